// The plain byte stream: reads and writes go straight to the socket. Refers to a socket its
// connection owns and keeps open while the stream is in use. Owned by one connection thread.
#pragma once

#include "proxy/byte_stream.h"

namespace rw::proxy {

class SocketStream final : public ByteStream {
 public:
  explicit SocketStream(const platform::Socket& connected) : socket(connected) {}

  platform::SysCallResult Read(char* data, size_t capacity) override;
  platform::SysCallResult Write(const char* data, size_t count) override;
  bool HasPending() const override { return false; }
  bool WantsRead() const override { return false; }
  bool WantsWrite() const override { return false; }
  bool MovesOnEitherReadiness() const override { return false; }
  const platform::Socket* PlainSocket() const override { return &socket; }
  void Close() override {}

 private:
  const platform::Socket& socket;
};

}  // namespace rw::proxy
