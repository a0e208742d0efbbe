#include "tls/host_pattern.h"

#include <algorithm>

#include "text/text_steps.h"
#include "tls/host_name.h"

namespace rw::tls {

using text::TrimBlanks;

HostPatternList::ParseResult HostPatternList::Parse(std::string_view list) {
  ParseResult result;
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view entry = TrimBlanks(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (entry.empty()) {
      continue;
    }
    const bool wildcard = entry.substr(0, 2) == "*.";
    const std::optional<CanonicalHost> host = CanonicalHostName(wildcard ? entry.substr(2) : entry);
    if (!host || (wildcard && host->ipLiteral)) {
      result.error = "not a host name or *.domain pattern: \"" + std::string(entry) + "\"";
      result.patterns = HostPatternList();
      return result;
    }
    if (wildcard) {
      result.patterns.suffixes.push_back("." + host->name);
    } else {
      result.patterns.exactNames.push_back(host->name);
    }
  }
  return result;
}

bool HostPatternList::Matches(std::string_view host) const {
  const std::optional<CanonicalHost> canonical = CanonicalHostName(host);
  if (!canonical) {
    return false;
  }
  const std::string& name = canonical->name;
  if (std::find(exactNames.begin(), exactNames.end(), name) != exactNames.end()) {
    return true;
  }
  return !canonical->ipLiteral &&
         std::any_of(suffixes.begin(), suffixes.end(), [&](const std::string& suffix) {
           return name.size() > suffix.size() &&
                  name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
         });
}

}  // namespace rw::tls
