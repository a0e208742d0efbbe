// The request line of a browser request: parsed into method, target, host, port and path, and
// rewritten to origin form for a direct server connection. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rw::proxy {

struct RequestLine {
  bool threeTokens = false;  // anything else leaves every field below empty
  bool tunnel = false;       // a CONNECT request
  std::string method;
  std::string target;  // scheme removed, cut before the first "/"
  std::string version;
  std::string hostAndPort;  // "host" or "host:port"; empty when the target names no host
  std::string path;         // from the first "/" on
  std::string host;
  int32_t port = 80;  // 80 whatever the scheme, unless the request names one
};

RequestLine ParseRequestLine(std::string_view line);

// "method path version\r\n".
std::string OriginFormLine(const RequestLine& request);

// True when the first 9 characters of the (rewritten) first line, upper-cased, contain GET, HEAD,
// PUT or DELETE. Otherwise the request may carry a body that is passed through unparsed.
bool HasBodylessMethodPrefix(std::string_view firstLine);

}  // namespace rw::proxy
