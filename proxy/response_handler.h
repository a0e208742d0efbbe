// Response side of one browser connection: parses each response header, classifies the content
// and either streams the body to the browser as it arrives or holds it until complete (decoding a
// chunked text body). Has no sockets: it writes through ResponseOutput, so it is tested by feeding
// reads directly. Owned and used by one connection thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "proxy/byte_buffer.h"
#include "proxy/header_end_scanner.h"
#include "proxy/header_text.h"
#include "proxy/response_header_info.h"

namespace rw::proxy {

class ResponseOutput {
 public:
  virtual ~ResponseOutput() = default;
  // Sends all bytes to the browser; a failure is not reported (the browser side then ends).
  virtual void SendToBrowser(std::string_view bytes) = 0;
  // Bytes the proxy itself adds to the response buffer, captured as response data.
  virtual void CaptureResponseBytes(std::string_view bytes) = 0;
};

enum class ResponseState { kAwaitingHeader, kInBody };

enum class ServerDataOutcome {
  kContinue,
  kInterimForwarded,  // a 1xx response went to the browser: let the request body flow
};

class ResponseHandler {
 public:
  explicit ResponseHandler(ResponseOutput& output) : output_(output) {}

  // Server bytes not yet handled; the connection appends every server read here.
  ByteBuffer& Buffer() { return buffer_; }

  void Reset();
  void SetTunnel() { tunnel_ = true; }
  // A response to HEAD has no body and is finished at the end of its header.
  void SetHeadRequest(bool head) { headRequest_ = head; }

  // Called after each server read that left bytes in the buffer.
  ServerDataOutcome HandleServerData();
  // Sends whatever is held for the browser and resets for the next response.
  void Finish();
  // True when the next server bytes would go to the browser unchanged: a tunnel, or a streamed
  // body with nothing buffered. The connection may then move them itself (AccountStreamedBytes).
  bool StreamsUnchanged() const;
  // Body bytes still expected before the response is finished by its length; -1 when unknown.
  int64_t RemainingBodyBytes() const;
  // `count` body bytes went to the browser without passing through the buffer.
  void AccountStreamedBytes(size_t count);
  // True when a response (or part of one) is waiting to be sent to the browser.
  bool HoldsResponse() const;

  ResponseState State() const { return state_; }
  uint16_t ContentClass() const { return info_.contentClass; }
  int32_t StatusCode() const { return statusCode_; }

 private:
  bool ParseHeader();
  void SendHeader();
  void SendHeaderAndBuffer();
  // Stops holding: sends the header and what is held; later bytes stream.
  void ReleaseHeld();
  void CompleteChunkedBody();
  size_t HeldBytes() const { return buffer_.Size() + decodedBody_.Size(); }

  ResponseOutput& output_;
  ByteBuffer buffer_;
  ByteBuffer decodedBody_;
  LineList headerLines_;  // the current header, until sent
  LineList savedLines_;   // the header of a chunked text body being decoded
  HeaderEndScanner headerEnd_;
  ResponseHeaderInfo info_;
  ResponseState state_ = ResponseState::kAwaitingHeader;
  int32_t statusCode_ = 0;
  int64_t bodyCount_ = 0;
  bool firstData_ = true;
  bool tunnel_ = false;
  bool headRequest_ = false;
};

}  // namespace rw::proxy
