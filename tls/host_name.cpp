#include "tls/host_name.h"

#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>

#include "platform/os_sys_calls.h"
#include "text/case_blind.h"
#include "tls/openssl_handles.h"

namespace rw::tls {
namespace {

constexpr size_t kMaxNameBytes = 253;
constexpr size_t kMaxLabelBytes = 63;

bool IsIpLiteral(const std::string& text) {
  // a2i_IPADDRESS parses the dotted IPv4 and the IPv6 text forms, but reads IPv4 with sscanf,
  // which would let trailing bytes through: only digits, hex digits, dots and colons reach it.
  const bool ipv6 = text.find(':') != std::string::npos;
  for (char c : text) {
    const bool digit = c >= '0' && c <= '9';
    const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!(digit || c == '.' || (ipv6 && (hex || c == ':')))) {
      return false;
    }
  }
  if (!ipv6 &&
      (std::count(text.begin(), text.end(), '.') != 3 || text.find("..") != std::string::npos ||
       text.front() == '.' || text.back() == '.')) {
    return false;
  }
  const Asn1OctetStringPtr address(a2i_IPADDRESS(text.c_str()));
  return address != nullptr;
}

// Whether the connection's own resolver would read `name` as an IPv4 address: it also takes
// octal and hex parts and fewer than four parts ("0177.0.0.1" and "127.1" are 127.0.0.1), which
// certificates would read otherwise. Only the plain dotted form names one address everywhere.
bool IsResolverAddressNotDotted(const std::string& name) {
  uint32_t netOrder = 0;
  if (!platform::ParseDottedIPv4(name, &netOrder)) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(&netOrder);
  const std::string dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                             std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
  return dotted != name;
}

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool IsDnsName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) {
    return false;
  }
  size_t labelBytes = 0;
  for (char c : name) {
    if (c == '.') {
      if (labelBytes == 0) {
        return false;
      }
      labelBytes = 0;
    } else if (!IsNameByte(c) || ++labelBytes > kMaxLabelBytes) {
      return false;
    }
  }
  return labelBytes != 0;
}

}  // namespace

std::optional<CanonicalHost> CanonicalHostName(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    const std::string inner(host);
    if (inner.find(':') == std::string::npos || inner.find('\0') != std::string::npos ||
        !IsIpLiteral(inner)) {
      return std::nullopt;
    }
    return CanonicalHost{text::ToLower(inner), true};
  }
  if (!host.empty() && host.back() == '.') {
    host.remove_suffix(1);
  }
  std::string name = text::ToLower(host);
  if (name.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  if (name.find(':') != std::string::npos) {
    if (!IsIpLiteral(name)) {
      return std::nullopt;
    }
    return CanonicalHost{std::move(name), true};
  }
  if (IsResolverAddressNotDotted(name)) {
    return std::nullopt;
  }
  if (IsIpLiteral(name)) {
    return CanonicalHost{std::move(name), true};
  }
  if (!IsDnsName(name)) {
    return std::nullopt;
  }
  return CanonicalHost{std::move(name), false};
}

}  // namespace rw::tls
