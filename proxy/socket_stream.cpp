#include "proxy/socket_stream.h"

namespace rw::proxy {

platform::SysCallResult SocketStream::Read(char* data, size_t capacity) {
  return platform::Recv(socket, data, capacity);
}

platform::SysCallResult SocketStream::Write(const char* data, size_t count) {
  return platform::Send(socket, data, count);
}

}  // namespace rw::proxy
