// The byte stream of an inspected side: relayed bytes go through the TLS session over the side's
// socket. Owns the session; the socket stays the connection's. Owned by one connection thread.
#pragma once

#include <memory>

#include "proxy/byte_stream.h"
#include "proxy/tls_session.h"

namespace rw::proxy {

class TlsStream final : public ByteStream {
 public:
  // `session` has completed its handshake.
  explicit TlsStream(std::unique_ptr<TlsSession> tlsSession) : session(std::move(tlsSession)) {}

  platform::SysCallResult Read(char* data, size_t capacity) override;
  platform::SysCallResult Write(const char* data, size_t count) override;
  bool HasPending() const override { return session->HasPending(); }
  bool WantsRead() const override { return session->WantsRead(); }
  bool WantsWrite() const override { return session->WantsWrite(); }
  bool MovesOnEitherReadiness() const override { return true; }
  const platform::Socket* PlainSocket() const override { return nullptr; }
  // Sends close_notify.
  void Close() override { session->Close(); }

 private:
  std::unique_ptr<TlsSession> session;
};

}  // namespace rw::proxy
