// The hosts kept as byte-exact tunnels when inspecting: exact names, or "*.example.com" for every
// name below example.com (not example.com itself). Case and a trailing dot do not matter. Parsed
// once at start; read-only afterwards, so any thread may match.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rw::tls {

class HostPatternList {
 public:
  struct ParseResult;

  // A comma-separated list; blanks around entries and empty entries are ignored. An entry that is
  // neither a host name, an IP literal nor "*." and a name is an error naming it.
  static ParseResult Parse(std::string_view list);

  bool Matches(std::string_view host) const;
  bool Empty() const { return exactNames.empty() && suffixes.empty(); }

 private:
  std::vector<std::string> exactNames;  // canonical host names
  std::vector<std::string> suffixes;    // ".example.com" for "*.example.com"
};

struct HostPatternList::ParseResult {
  HostPatternList patterns;
  std::string error;  // empty when every entry was understood
  bool Ok() const { return error.empty(); }
};

}  // namespace rw::tls
