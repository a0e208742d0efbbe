// The response side of one browser connection: reads the server, hands its bytes to the response
// handler (or splices a streamed body straight to the browser), captures them, and sends what the
// handler passes on. Owned and used by the connection thread, beside the request side.
#pragma once

#include <cstddef>
#include <string_view>

#include "proxy/connection_sockets.h"
#include "proxy/engine_context.h"
#include "proxy/exchange_capture.h"
#include "proxy/exchange_state.h"
#include "proxy/held_page_share.h"
#include "proxy/read_size.h"
#include "proxy/response_handler.h"

namespace rw::proxy {

class ResponseSide : private ResponseOutput {
 public:
  // What one server read did.
  struct ReadResult {
    bool answered = false;  // bytes came, or the server ended: its answer has begun
    ServerDataOutcome outcome = ServerDataOutcome::kContinue;
    bool ended = false;  // the server side closed or failed
  };

  ResponseSide(EngineContext& context, ConnectionSockets& sockets, ExchangeCapture& capture,
               ExchangeState& state);

  // One read of the server's bytes, which the loop found ready.
  ReadResult ReadServer();
  ResponseHandler& Handler() { return handler; }
  const ResponseHandler& Handler() const { return handler; }
  // A page of the proxy's own goes to the browser as the response to the request in hand, and is
  // captured as it.
  void AnswerWith(std::string_view page);
  // The most one read takes.
  void SetLargestRead(size_t bytes) { readSize.SetLargest(bytes); }
  // The exchange is over: its buffer's storage goes back and reads start small again.
  void ReleaseIdle();
  // The bytes on the server's socket are not the bytes relayed from here on (TLS).
  void DisableSplice() { spliceDisabled = true; }
  // Whether the server is read while the pipe still holds bytes for the browser.
  bool PipeTakesMore() const;

 private:
  // Moves one read of a streamed body from server to browser through a pipe, without copying it
  // through this process. False when it did not apply; nothing has been read then.
  bool TrySplice();
  // The capture's view of a read about to be spliced: its first bytes up to one that ends the
  // captured text. False when the read does not show such a byte (or the server has nothing).
  bool PeekCapturedPart(char* view, size_t* seen);
  // After each server read: a page no longer held gives its share of the budget back.
  void NoteProgress();

  // ResponseOutput
  void SendToBrowser(std::string_view bytes) override;
  void SendGatheredToBrowser(std::string_view head, std::string_view body) override;
  void CaptureResponseBytes(std::string_view bytes) override;
  void ResponseEnded() override;
  bool MayHold(size_t bytes) override;

  ConnectionSockets& sockets;
  ExchangeCapture& capture;
  ExchangeState& state;
  ResponseHandler handler;
  HeldPageShare heldShare;
  ReadSize readSize;
  bool spliceDisabled = false;
};

}  // namespace rw::proxy
