// Replies the proxy itself sends to the browser, byte for byte.
#pragma once

#include <string_view>

namespace rw::proxy {

inline constexpr std::string_view kBadRequestReply =
    "HTTP/1.0 400 Invalid header received from browser\n\n";

inline constexpr std::string_view kTunnelReply =
    "HTTP/1.0 200 Connection established\r\nProxy-agent: ZR-Proxy/1.0\r\n\r\n";

// The blank line after the header lines is needed for browsers to show the markup.
inline constexpr std::string_view kConnectFailurePage =
    "HTTP/1.0 404 Error connecting to site\r\nPragma: no-cache\r\nContent-Type: text/html\r\n\r\n"
    "<html>\r\n<head>\r\nSite does not exist.\r\n</head></html>\r\n\r\n";

// The answer to a request that would be sent to this proxy's own listener: the upstream proxy set
// (or the server named) is this proxy under another name.
inline constexpr std::string_view kProxyLoopPage =
    "HTTP/1.0 508 Proxy loop\r\nPragma: no-cache\r\nContent-Type: text/html\r\n\r\n"
    "<html>\r\n<head>\r\nThe upstream proxy is this proxy itself.\r\n</head></html>\r\n\r\n";

}  // namespace rw::proxy
