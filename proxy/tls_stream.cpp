#include "proxy/tls_stream.h"

namespace rw::proxy {

platform::SysCallResult TlsStream::Read(char* data, size_t capacity) {
  return session->Read(data, capacity);
}

platform::SysCallResult TlsStream::Write(const char* data, size_t count) {
  return session->Write(data, count);
}

}  // namespace rw::proxy
