// Response side of one browser connection: parses each response header, classifies the content
// and either streams the body to the browser as it arrives or holds it until complete (decoding a
// chunked text body). Has no sockets: it writes through ResponseOutput, so it is tested by feeding
// reads directly. Owned and used by one connection thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "proxy/byte_buffer.h"
#include "proxy/chunked_body_walker.h"
#include "proxy/header_end_scanner.h"
#include "proxy/header_text.h"
#include "proxy/in_place_chunk_decoder.h"
#include "proxy/response_header_info.h"

namespace rw::proxy {

class ResponseOutput {
 public:
  virtual ~ResponseOutput() = default;
  // Sends all bytes to the browser; a failure is not reported (the browser side then ends).
  virtual void SendToBrowser(std::string_view bytes) = 0;
  // Sends a header and a body as if they were one range; the connection gathers them into its
  // sends, so a held page is neither copied again nor split into a small first segment.
  virtual void SendGatheredToBrowser(std::string_view head, std::string_view body);
  // Bytes the proxy itself adds to the response buffer, captured as response data.
  virtual void CaptureResponseBytes(std::string_view bytes) = 0;
  // The response in progress is over: its length was reached, its last chunk came, it has no
  // body, or the server closed. Called once its bytes have been handed to SendToBrowser.
  virtual void ResponseEnded() {}
  // Whether a text page of `bytes` may go on being held; when not, it is streamed from here on.
  virtual bool MayHold(size_t bytes);
};

// What happens to the bytes of the response in progress.
enum class BodyAction {
  kAwaitingHeader,  // no header yet: server bytes collect until one ends
  kStream,          // the header has gone; body bytes go to the browser as they come
  kHoldText,        // header and body are held until the length is reached or the server closes
  kDecodeChunked,   // chunked text: decoded and held, then sent whole with a Content-Length
  kTunnel,          // every byte goes on unchanged, both ways (CONNECT, or after a 101)
};

enum class ServerDataOutcome {
  kContinue,
  // A 1xx response went to the browser and the final one has not begun: the request body flows.
  kInterimForwarded,
  // A 101 went to the browser: from now on the connection is a tunnel both ways.
  kSwitchedToTunnel,
};

// Limits that keep one connection's memory bounded: a response header longer than this is not
// parsed but passed on, and a held text response growing past the second is sent as it is.
inline constexpr size_t kMaxResponseHeaderBytes = size_t{64} * 1024;
inline constexpr size_t kMaxHeldResponseBytes = size_t{64} * 1024 * 1024;

class ResponseHandler {
 public:
  explicit ResponseHandler(ResponseOutput& sink) : output(sink) {}

  // Server bytes not yet handled; the connection appends every server read here.
  ByteBuffer& Buffer() { return buffer; }

  // Forgets the response in progress (not the buffer); the next bytes begin a new response.
  void Reset();
  void SetTunnel();
  // The tunnel's bytes turned out to be TLS taken apart here: HTTP responses follow.
  void ClearTunnel();
  // A response to HEAD has no body and is finished at the end of its header.
  void SetHeadRequest(bool head) { headRequest = head; }

  // Called after each server read that left bytes in the buffer.
  ServerDataOutcome HandleServerData();
  // Sends whatever is held for the browser, resets for the next response and reports the end.
  void Finish();
  // True when the next server bytes would go to the browser unchanged: a tunnel, or a streamed
  // body with nothing buffered. The connection may then move them itself (AccountStreamedBytes).
  bool StreamsUnchanged() const;
  // Body bytes that may still come before the response ends or framing must be read: the rest of
  // its length, or of a streamed chunk's data (0 at a chunk's framing); -1 when unbounded.
  int64_t RemainingBodyBytes() const;
  // `count` body bytes went to the browser without passing through the buffer.
  void AccountStreamedBytes(size_t count);
  // True when a response (or part of one) is waiting to be sent to the browser.
  bool HoldsResponse() const;

  BodyAction Action() const { return current.action; }
  uint16_t ContentClass() const { return current.info.contentClass; }

 private:
  enum class HeaderKind { kIncomplete, kInterim, kSwitchingProtocols, kFinal, kHeaderless };

  // Everything about the response in progress; a new response starts from a fresh one.
  struct Progress {
    explicit Progress(BodyAction start) : action(start) {}

    BodyAction action;
    int32_t statusCode = 0;
    ResponseHeaderInfo info;
    // Body bytes taken from the server after the header (for chunked text: once decoded).
    int64_t bodyBytes = 0;
    bool sniffed = false;     // the first body bytes have been looked at
    LineList header;          // header lines not yet sent to the browser
    ChunkedProgress chunked;  // where decoding a chunked text body in the buffer stands
    // A streamed chunked body: its chunks are followed, not decoded, to find where it ends.
    bool walkChunks = false;
    ChunkedBodyWalker chunks;
    HeaderEndScanner headerEnd;
  };

  // The stages, in the order server bytes meet them.
  HeaderKind ParseHeaderStage();
  void ForwardInterim();
  void SwitchToTunnel();
  void ChooseBodyAction();
  // False while the chunked body is incomplete and still held.
  bool DecodeChunkStage();
  void SniffFirstBytes();
  void StreamOrHold();
  // Whether the body's framing says the response is over.
  bool BodyComplete() const;

  bool ParseHeader();
  void SendHeader();
  void SendHeaderAndBuffer();
  void ForwardBuffer();
  // Stops holding: sends the header and what is held; later bytes stream.
  void ReleaseHeld();
  void CompleteChunkedBody();

  ResponseOutput& output;
  ByteBuffer buffer;
  Progress current{BodyAction::kAwaitingHeader};
  bool tunnel = false;       // for the rest of the connection
  bool headRequest = false;  // for the current request
};

}  // namespace rw::proxy
