#include "proxy/response_side.h"

#include <algorithm>
#include <string_view>

#include "capture/text_prefix.h"

namespace rw::proxy {
namespace {

// The bytes of a streamed read looked at for the capture, without taking them from the socket.
constexpr size_t kPeekWindow = 4096;
// The most one read of a held page of known length asks for (and reserves) at once.
constexpr int64_t kLargestHeldRead = int64_t{16} * 1024 * 1024;

}  // namespace

ResponseSide::ResponseSide(EngineContext& engine, ConnectionSockets& connectionSockets,
                           ExchangeCapture& exchangeCapture, ExchangeState& exchangeState)
    : sockets(connectionSockets),
      capture(exchangeCapture),
      state(exchangeState),
      handler(*this),
      heldShare(engine.HeldPages()) {}

ResponseSide::ReadResult ResponseSide::ReadServer() {
  if (!spliceDisabled && handler.StreamsUnchanged() && TrySplice()) {
    NoteProgress();
    return {true, ServerDataOutcome::kContinue, false};
  }
  ByteBuffer& buffer = handler.Buffer();
  size_t size = readSize.Get();
  if (handler.Action() == BodyAction::kHoldText) {
    // A held page of known length gets its whole rest reserved at once: growing the buffer
    // step by step would copy the page again at every doubling.
    const int64_t remaining = handler.RemainingBodyBytes();
    if (remaining > 0) {
      size = std::max(size, static_cast<size_t>(std::min(remaining, kLargestHeldRead)));
    }
  }
  char* target = buffer.PrepareAppend(size);
  platform::SysCallResult received = sockets.ServerStream()->Read(target, size);
  if (received.value < 0 && platform::WouldBlock(received.errorNumber)) {
    return {};
  }
  ReadResult result{true, ServerDataOutcome::kContinue, received.value <= 0};
  if (received.value > 0) {
    buffer.CommitAppend(static_cast<size_t>(received.value));
    capture.Ensure();
    capture.Current().AddResponseData(target, static_cast<int32_t>(received.value));
    readSize.Took(static_cast<size_t>(received.value));
  }
  if (!buffer.Empty()) {
    result.outcome = handler.HandleServerData();
  }
  NoteProgress();
  return result;
}

bool ResponseSide::PipeTakesMore() const {
  return sockets.ToBrowser().PipeTakesMore() && !spliceDisabled && handler.StreamsUnchanged();
}

bool ResponseSide::TrySplice() {
  // Only into a pipe with nothing queued before it, so that bytes reach the browser in order.
  // Small reads are not worth a pipe, and a read must not run past the body's end.
  OutboundQueue& toBrowser = sockets.ToBrowser();
  if (toBrowser.Queued() || toBrowser.PipeRoom() == 0) {
    return false;
  }
  size_t limit = toBrowser.PipeRoom();
  const int64_t remaining = handler.RemainingBodyBytes();
  if (remaining >= 0) {
    limit = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(limit)));
  }
  if (limit < kPeekWindow) {
    return false;
  }
  char view[kPeekWindow];
  size_t seen = 0;
  capture.Ensure();
  if (!PeekCapturedPart(view, &seen)) {
    return false;
  }
  const OutboundQueue::Spliced moved = toBrowser.SpliceFrom(sockets.Server(), limit);
  if (moved.unsupported) {
    spliceDisabled = true;
  }
  if (moved.count == 0) {
    return false;
  }
  capture.Current().AddResponseDataSeen(view, static_cast<int32_t>(std::min(seen, moved.count)),
                                        static_cast<int32_t>(moved.count));
  handler.AccountStreamedBytes(moved.count);
  return true;
}

bool ResponseSide::PeekCapturedPart(char* view, size_t* seen) {
  *seen = 0;
  if (capture.Current().ResponseDataSize() >= capture::Conversation::kMaxCaptured) {
    return true;  // the capture is full: it needs none of these bytes
  }
  // The capture keeps each read's leading text; with a byte in view that ends it under every
  // rule, the bytes up to it are all the capture needs, so the conversation stores exactly what
  // it would have from all of them.
  platform::SysCallResult peeked = platform::Peek(sockets.Server(), view, kPeekWindow);
  if (peeked.value <= 0) {
    return false;
  }
  const auto peekedCount = static_cast<size_t>(peeked.value);
  const size_t count = capture::TextEndUnderEveryRule(std::string_view(view, peekedCount));
  if (count == peekedCount) {
    return false;
  }
  *seen = count + 1;  // with the byte that ends the text
  return true;
}

void ResponseSide::NoteProgress() {
  const bool held =
      handler.Action() == BodyAction::kHoldText || handler.Action() == BodyAction::kDecodeChunked;
  if (!held && heldShare.Bytes() > 0) {
    heldShare.Release();
    // The page's storage goes with its share: otherwise pages streamed past the budget would
    // keep what they had held until their exchange ends.
    if (handler.Buffer().Empty()) {
      handler.Buffer().Release();
    }
  }
}

void ResponseSide::AnswerWith(std::string_view page) {
  ByteBuffer& buffer = handler.Buffer();
  buffer.Clear();
  buffer.Append(page);
  capture.Ensure();
  capture.Current().AddResponseData(page.data(), static_cast<int32_t>(page.size()));
  sockets.ToBrowser().Queue(buffer.View());
  buffer.Clear();
}

void ResponseSide::ReleaseIdle() {
  handler.Buffer().Release();
  readSize.Restart();
}

void ResponseSide::SendToBrowser(std::string_view bytes) {
  sockets.ToBrowser().Queue(bytes);
}

void ResponseSide::SendGatheredToBrowser(std::string_view head, std::string_view body) {
  sockets.ToBrowser().QueueGathered(head, body);
}

void ResponseSide::CaptureResponseBytes(std::string_view bytes) {
  capture.Ensure();
  capture.Current().AddResponseData(bytes.data(), static_cast<int32_t>(bytes.size()));
}

void ResponseSide::ResponseEnded() {
  // Only the answer to a forwarded request ends an exchange: its end is its last response byte,
  // and whatever comes after begins the next one.
  if (!state.awaitingResponse || state.tunnel) {
    return;
  }
  state.awaitingResponse = false;
  state.responseJustEnded = true;
  capture.End();
}

bool ResponseSide::MayHold(size_t bytes) {
  return bytes <= kMaxHeldResponseBytes && heldShare.TryHold(bytes);
}

}  // namespace rw::proxy
