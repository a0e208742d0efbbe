// The byte stream under one side of a relayed connection: the plain socket, or a TLS session over
// it. The relay loop reads and writes through this interface and never asks which it has. Results
// are those of the socket calls (count, 0 at the end, -1 with EAGAIN when the stream must wait).
// Owned and used by one connection thread.
#pragma once

#include <cstddef>

#include "platform/os_sys_calls.h"
#include "platform/socket.h"

namespace rw::proxy {

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  virtual platform::SysCallResult Read(char* data, size_t capacity) = 0;
  virtual platform::SysCallResult Write(const char* data, size_t count) = 0;
  // Bytes held inside the stream: a read may give data without the socket becoming readable.
  virtual bool HasPending() const = 0;
  // The socket readiness the last read or write waited for, beyond the one it was called for.
  virtual bool WantsRead() const = 0;
  virtual bool WantsWrite() const = 0;
  // Whether either readiness of the socket may let a waiting read or write go on (a record layer
  // reads while writing and writes while reading); a plain socket moves only on its own.
  virtual bool MovesOnEitherReadiness() const = 0;
  // The socket when the bytes on it are the bytes relayed, so that they may be spliced or
  // gathered straight to it; null when the stream transforms them.
  virtual const platform::Socket* PlainSocket() const = 0;
  // Ends the stream's own protocol without waiting for the peer; the socket stays open.
  virtual void Close() = 0;
};

}  // namespace rw::proxy
