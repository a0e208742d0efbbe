#include "proxy/tls_session.h"

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

#include "tls/openssl_error.h"

namespace rw::proxy {

TlsSession::TlsSession(SslPtr session, int socketFd) : ssl(std::move(session)), fd(socketFd) {
  SSL_set_fd(this->ssl.get(), socketFd);
}

TlsSession::HandshakeResult TlsSession::Handshake(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  ERR_clear_error();
  for (;;) {
    const int result = SSL_do_handshake(ssl.get());
    if (result == 1) {
      (void)SSL_free_buffers(ssl.get());
      return {true, {}};
    }
    const int error = SSL_get_error(ssl.get(), result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      std::string reason = tls::TakeOpenSslError();
      if (reason.empty()) {
        reason = error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN
                     ? "the connection closed"
                     : "error " + std::to_string(error);
      }
      return {false, reason};
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return {false, "timed out"};
    }
    const platform::PollPairResult ready = platform::PollOne(
        platform::PollInterest{fd, error == SSL_ERROR_WANT_READ, error == SSL_ERROR_WANT_WRITE},
        static_cast<int>(left.count()));
    if (!ready.Ok()) {
      return {false, "the connection failed"};
    }
    if (ready.value.timedOut) {
      return {false, "timed out"};
    }
  }
}

platform::SysCallResult TlsSession::Outcome(int result) {
  wantRead = false;
  wantWrite = false;
  if (result > 0) {
    return platform::SysCallResult::Succeeded(result);
  }
  switch (SSL_get_error(ssl.get(), result)) {
    case SSL_ERROR_WANT_READ:
      wantRead = true;
      // A read that waits keeps OpenSSL's record buffer (about 17 KiB) otherwise: an idle
      // connection gives it back and takes it again when bytes come.
      (void)SSL_free_buffers(ssl.get());
      return platform::SysCallResult::Failed(EAGAIN);
    case SSL_ERROR_WANT_WRITE:
      wantWrite = true;
      return platform::SysCallResult::Failed(EAGAIN);
    case SSL_ERROR_ZERO_RETURN:
      return platform::SysCallResult::Succeeded(0);
    default:
      ERR_clear_error();
      return platform::SysCallResult::Failed(ECONNRESET);
  }
}

platform::SysCallResult TlsSession::Read(char* data, size_t capacity) {
  const platform::SysCallResult result =
      Outcome(SSL_read(ssl.get(), data, static_cast<int>(std::min<size_t>(capacity, INT_MAX))));
  readStarved = wantRead;
  return result;
}

bool TlsSession::HasPending() const {
  // A read that waited has taken every whole record the session held: counting the part of one
  // left over would make the relay call again at once, and again, until the rest arrives.
  return SSL_pending(ssl.get()) > 0 || (!readStarved && SSL_has_pending(ssl.get()) == 1);
}

platform::SysCallResult TlsSession::Write(const char* data, size_t count) {
  return Outcome(SSL_write(ssl.get(), data, static_cast<int>(std::min<size_t>(count, INT_MAX))));
}

void TlsSession::Close() {
  (void)SSL_shutdown(ssl.get());
  ERR_clear_error();
}

}  // namespace rw::proxy
