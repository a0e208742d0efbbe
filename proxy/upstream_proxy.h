// The upstream proxy in use, published whole by StartListening and read once per request by
// connection threads; never changed after publication.
#pragma once

#include <cstdint>
#include <string>

namespace rw::proxy {

struct UpstreamProxy {
  bool use = false;
  std::string address;
  int32_t port = 0;
};

}  // namespace rw::proxy
