// Bytes on their way out through one side's stream, in order: what the stream takes now is sent,
// the rest waits for room. The browser's queue may also hold a pipe, which carries a streamed body
// from the server's socket without copying it through this process; the pipe's bytes go before
// the queued ones. Owned and used by one connection thread.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/pipe.h"
#include "proxy/byte_buffer.h"
#include "proxy/byte_stream.h"

namespace rw::proxy {

class OutboundQueue {
 public:
  // The most one splice moves, and the room the pipe asks for.
  static constexpr size_t kPipeSize = size_t{1024} * 1024;

  // What became of a splice into the pipe.
  struct Spliced {
    size_t count = 0;          // bytes taken from the source
    bool unsupported = false;  // no pipe could be made, or this kernel cannot splice the socket
  };

  // The most one send gives.
  void SetPortion(size_t bytes) { portion = bytes; }
  // Sends through `stream` (which outlives its use here) from now on, afresh: nothing waits and
  // nothing has failed.
  void Attach(ByteStream* stream);
  // The side is closed: whatever waits is dropped, and later bytes too.
  void Detach();

  // Sends what the stream takes now and keeps the rest. Dropped once the side failed or closed.
  void Queue(std::string_view bytes);
  // A header and a body as one range: gathered into each send on a plain socket, so a held page is
  // neither copied again nor split into a small first segment.
  void QueueGathered(std::string_view head, std::string_view body);
  // Sends what waits; false when the side failed (what waited is dropped) or is closed.
  bool Flush();

  // Moves up to `limit` bytes from `source` into the pipe, behind what it holds, and sends what
  // the browser takes of it.
  Spliced SpliceFrom(const platform::Socket& source, size_t limit);

  bool Pending() const { return pipePending > 0 || !buffer.Empty(); }
  // Whether bytes wait outside the pipe (new pipe bytes would overtake them).
  bool Queued() const { return !buffer.Empty(); }
  size_t PipeRoom() const { return kPipeSize - pipePending; }
  // A streamed body goes on filling the pipe while the peer drains it, so that the two hops
  // overlap; the pipe's size still bounds what is held.
  bool PipeTakesMore() const {
    return buffer.Empty() && pipePending > 0 && pipePending <= kPipeSize / 2;
  }
  // A send failed for a reason other than a full socket.
  bool Failed() const { return failed; }
  // Gives the buffer's storage back once nothing waits.
  void Release() { buffer.Release(); }

 private:
  // Sends from the front of `bytes` until done or the stream is full; sets `failed` on a real
  // error.
  size_t SendNow(std::string_view bytes);
  bool FlushPipe();

  ByteStream* stream = nullptr;  // null: the side is closed
  size_t portion = 256;
  ByteBuffer buffer;
  platform::Pipe pipe;     // created on first use
  size_t pipePending = 0;  // bytes in the pipe that the peer has not yet taken
  bool failed = false;
};

}  // namespace rw::proxy
