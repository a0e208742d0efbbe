#include "proxy/request_line.h"

#include <vector>

#include "proxy/header_text.h"
#include "proxy/response_header_info.h"
#include "text/case_blind.h"
#include "text/number_parsers.h"
#include "text/text_steps.h"

namespace rw::proxy {

using text::EqualsIgnoringCase;
using text::StartsWithIgnoringCase;
using text::Tokenise;
namespace {

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Out-of-range values become -1 so that the connect step rejects them.
int32_t PortValue(std::string_view text) {
  int64_t value = text::LeadingDecimal(text);
  if (value < 0 || value > 65535) {
    return -1;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

RequestLine ParseRequestLine(std::string_view line) {
  RequestLine request;
  std::vector<std::string> tokens = Tokenise(line, " \r\n");
  if (tokens.size() == 3) {
    request.threeTokens = true;
    request.method = tokens[0];
    request.version = tokens[2];
    if (EqualsIgnoringCase(tokens[0], "connect")) {
      request.tunnel = true;
      request.hostAndPort = tokens[1];
    } else {
      std::string target = tokens[1];
      if (StartsWithIgnoringCase(target, "http://")) {
        target.erase(0, 7);
      } else if (StartsWithIgnoringCase(target, "https://")) {
        target.erase(0, 8);
      } else {
        target.clear();
      }
      size_t slash = target.find('/');
      if (slash != std::string::npos) {
        request.path = target.substr(slash);
        target.resize(slash);
        request.hostAndPort = target;
      }
      request.target = target;
    }
  }
  if (!request.hostAndPort.empty()) {
    std::vector<std::string> parts = Tokenise(request.hostAndPort, ":");
    if (!parts.empty()) {
      request.port = 80;
      request.host = parts[0];
      if (parts.size() == 2) {
        request.port = PortValue(parts[1]);
      }
    }
  }
  return request;
}

std::string OriginFormLine(const RequestLine& request) {
  return request.method + " " + request.path + " " + request.version + "\r\n";
}

bool HasBodylessMethodPrefix(std::string_view firstLine) {
  std::string head(firstLine.substr(0, 9));
  for (char& c : head) {
    c = Upper(c);
  }
  for (std::string_view method : {"GET", "HEAD", "PUT", "DELETE"}) {
    if (head.find(method) != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace rw::proxy
