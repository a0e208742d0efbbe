// One side of a connection spoken in TLS: an OpenSSL session over the side's non-blocking socket.
// Reads and writes give the same results as the socket calls they stand in for (count, 0 at the
// end, -1 with EAGAIN when the session must wait), and remember which readiness the session waits
// for, so the relay loop can poll for it. Owned and used by one connection thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/os_sys_calls.h"
#include "tls/openssl_handles.h"

namespace rw::proxy {

using SslPtr = std::unique_ptr<SSL, tls::OpenSslFree<SSL, SSL_free>>;

class TlsSession {
 public:
  struct HandshakeResult {
    bool ok = false;
    std::string error;  // why it failed, for the user
  };

  // `ssl` not yet attached to a socket; it is attached to `fd`, which the caller keeps open for
  // the session's life.
  TlsSession(SslPtr ssl, int fd);

  // Completes the handshake, waiting on the socket up to `limit` in all.
  HandshakeResult Handshake(std::chrono::milliseconds limit);

  platform::SysCallResult Read(char* data, size_t capacity);
  platform::SysCallResult Write(const char* data, size_t count);
  // Bytes held inside the session that a read can use without the socket becoming readable
  // again: decrypted ones, or records read ahead of the last read that gave data.
  bool HasPending() const;
  // The readiness the last read or write waited for.
  bool WantsRead() const { return wantRead; }
  bool WantsWrite() const { return wantWrite; }
  // Sends close_notify without waiting for the peer's.
  void Close();

  SSL* Handle() const { return ssl.get(); }

 private:
  platform::SysCallResult Outcome(int result);

  SslPtr ssl;
  int fd;
  bool wantRead = false;
  bool wantWrite = false;
  // The last read waited for the socket: whatever the session holds is only part of a record.
  bool readStarved = false;
};

}  // namespace rw::proxy
