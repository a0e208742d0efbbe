// The one form of a host name that certificates and the no-inspect rule compare: lower case,
// without a trailing dot or IPv6 brackets, and checked to be a name or an IP literal, since
// names come from browsers (SNI, CONNECT) and are hostile input. Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rw::tls {

struct CanonicalHost {
  std::string name;  // lower case; an IPv6 literal without its brackets
  bool ipLiteral = false;
};

// Nothing when `host` is neither a DNS name (labels of letters, digits, '-' and '_', 1 to 63
// bytes each, 253 in all) nor an IPv4 or IPv6 literal; also for an IPv4 address written other
// than in plain dotted decimal ("0177.0.0.1", "127.1"), which the resolver and certificates read
// as different addresses.
std::optional<CanonicalHost> CanonicalHostName(std::string_view host);

}  // namespace rw::tls
