#include "proxy/response_handler.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "proxy/fixed_replies.h"
#include "proxy/in_place_chunk_decoder.h"
#include "text/header_value.h"
#include "text/number_parsers.h"

namespace rw::proxy {

namespace {

bool IsBinaryByte(unsigned char c) {
  return c <= 0x08 || c >= 0x80;
}

bool IsInterim(int32_t status) {
  // 101 switches protocols and is final; the other 1xx precede the real response.
  return status >= 100 && status < 200 && status != 101;
}

}  // namespace

bool ResponseOutput::MayHold(size_t bytes) {
  return bytes <= kMaxHeldResponseBytes;
}

void ResponseOutput::SendGatheredToBrowser(std::string_view head, std::string_view body) {
  std::string bytes;
  bytes.reserve(head.size() + body.size());
  bytes.append(head);
  bytes.append(body);
  SendToBrowser(bytes);
}

void ResponseHandler::Reset() {
  current = Progress(tunnel ? BodyAction::kTunnel : BodyAction::kAwaitingHeader);
}

void ResponseHandler::SetTunnel() {
  tunnel = true;
  current.action = BodyAction::kTunnel;
}

void ResponseHandler::ClearTunnel() {
  tunnel = false;
  current = Progress(BodyAction::kAwaitingHeader);
}

bool ResponseHandler::StreamsUnchanged() const {
  if (!buffer.Empty()) {
    return false;
  }
  return current.action == BodyAction::kTunnel ||
         (current.action == BodyAction::kStream && current.header.empty());
}

int64_t ResponseHandler::RemainingBodyBytes() const {
  if (current.walkChunks && !current.chunks.Unreadable()) {
    return static_cast<int64_t>(current.chunks.DataLeft());
  }
  if (current.action == BodyAction::kTunnel || current.info.contentLength == -1) {
    return -1;
  }
  return std::max<int64_t>(current.info.contentLength - current.bodyBytes, 0);
}

void ResponseHandler::AccountStreamedBytes(size_t count) {
  if (current.action == BodyAction::kTunnel) {
    return;
  }
  current.sniffed = true;
  current.bodyBytes += static_cast<int64_t>(count);
  if (current.walkChunks) {
    current.chunks.SkipData(count);
  }
  if (BodyComplete()) {
    Finish();
  }
}

bool ResponseHandler::HoldsResponse() const {
  return !buffer.Empty() || !current.header.empty();
}

bool ResponseHandler::ParseHeader() {
  current.statusCode = 0;
  if (!current.headerEnd.Found(buffer)) {
    return false;
  }
  // Each header is read afresh: what an interim response said does not carry over.
  current.info = ResponseHeaderInfo{};
  const bool split = SplitResponseHeader(buffer, current.header, current.info);
  current.headerEnd.Reset();
  if (split) {
    current.statusCode = text::StatusCodeOfLine(current.header.front());
  }
  return true;
}

ServerDataOutcome ResponseHandler::HandleServerData() {
  bool interimForwarded = false;
  while (current.action == BodyAction::kAwaitingHeader) {
    switch (ParseHeaderStage()) {
      case HeaderKind::kIncomplete:
        return interimForwarded ? ServerDataOutcome::kInterimForwarded
                                : ServerDataOutcome::kContinue;
      case HeaderKind::kInterim:
        ForwardInterim();
        interimForwarded = true;
        break;
      case HeaderKind::kSwitchingProtocols:
        SwitchToTunnel();
        return ServerDataOutcome::kSwitchedToTunnel;
      case HeaderKind::kFinal:
        interimForwarded = false;
        ChooseBodyAction();
        break;
      case HeaderKind::kHeaderless:
        break;
    }
  }
  // The final response has begun: the browser's next bytes are a new request, whatever an
  // interim response in the same read allowed.
  switch (current.action) {
    case BodyAction::kTunnel:
      ForwardBuffer();
      return ServerDataOutcome::kContinue;
    case BodyAction::kDecodeChunked:
      if (!DecodeChunkStage()) {
        return ServerDataOutcome::kContinue;
      }
      break;
    default:
      break;
  }
  SniffFirstBytes();
  StreamOrHold();
  return ServerDataOutcome::kContinue;
}

ResponseHandler::HeaderKind ResponseHandler::ParseHeaderStage() {
  if (ParseHeader()) {
    if (IsInterim(current.statusCode)) {
      return HeaderKind::kInterim;
    }
    return current.statusCode == 101 ? HeaderKind::kSwitchingProtocols : HeaderKind::kFinal;
  }
  if (buffer.Size() <= kMaxResponseHeaderBytes) {
    return HeaderKind::kIncomplete;
  }
  // No header end in 64 KiB: a response without a header, streamed as received.
  current.info = ResponseHeaderInfo{.contentClass = kClassOther};
  current.header.clear();
  current.action = BodyAction::kStream;
  return HeaderKind::kHeaderless;
}

void ResponseHandler::ForwardInterim() {
  // The interim header goes to the browser at once; a final response in the same read is parsed
  // on the next pass.
  SendHeader();
  current.info = ResponseHeaderInfo{};
}

void ResponseHandler::SwitchToTunnel() {
  SendHeader();
  SetTunnel();
  ForwardBuffer();
}

void ResponseHandler::ChooseBodyAction() {
  ResponseHeaderInfo& info = current.info;
  const int32_t status = current.statusCode;
  if (info.chunked) {
    // The coding, not a length named beside it, says where the body ends.
    info.contentLength = -1;
  }
  if (headRequest || status == 204 || status == 304) {
    // No body follows, whatever the header says about one: the response ends with its header.
    info.chunked = false;
    current.action = BodyAction::kHoldText;
    Finish();
    return;
  }
  if (status >= 300) {
    // No body worth holding, and nothing to decode: sent as it comes.
    info.contentClass = kClassOther;
  }
  if ((info.contentClass & kClassText) == 0) {
    current.action = BodyAction::kStream;
    current.walkChunks = info.chunked;
    if (info.chunked) {
      current.chunks.Start();
    }
    info.chunked = false;
    SendHeader();
  } else if (info.chunked) {
    current.action = BodyAction::kDecodeChunked;
  } else {
    current.action = BodyAction::kHoldText;
  }
}

bool ResponseHandler::DecodeChunkStage() {
  switch (DecodeChunksInPlace(buffer, current.chunked)) {
    case DecodeOutcome::kMalformed:
      ReleaseHeld();
      return true;
    case DecodeOutcome::kNeedMore:
      if (!output.MayHold(buffer.Size())) {
        ReleaseHeld();
      }
      return false;
    case DecodeOutcome::kComplete:
      CompleteChunkedBody();
      return true;
  }
  return false;
}

void ResponseHandler::SniffFirstBytes() {
  // Once per response, on the first pass after the header, even with no body bytes yet: text
  // that starts with binary bytes is not held.
  if (current.sniffed) {
    return;
  }
  current.sniffed = true;
  if (current.action != BodyAction::kHoldText) {
    return;
  }
  std::string_view first = buffer.View().substr(0, 32);
  for (char c : first) {
    if (IsBinaryByte(static_cast<unsigned char>(c))) {
      current.info.contentClass = kClassOther;
      current.action = BodyAction::kStream;
      SendHeader();
      return;
    }
  }
}

void ResponseHandler::StreamOrHold() {
  if (current.action == BodyAction::kStream) {
    if (current.walkChunks) {
      current.chunks.Take(buffer.View());
    }
    current.bodyBytes += static_cast<int64_t>(buffer.Size());
    ForwardBuffer();
  } else {
    current.bodyBytes = static_cast<int64_t>(buffer.Size());
    if (!output.MayHold(buffer.Size())) {
      ReleaseHeld();
    }
  }
  if (BodyComplete()) {
    Finish();
  }
}

bool ResponseHandler::BodyComplete() const {
  if (current.walkChunks) {
    return current.chunks.Done();
  }
  return current.info.contentLength != -1 && current.bodyBytes >= current.info.contentLength;
}

void ResponseHandler::CompleteChunkedBody() {
  // The buffer now holds the decoded body, then anything the server sent after the last chunk.
  const size_t decodedSize = current.chunked.decodedEnd;
  LengthInsteadOfCoding(current.header, decodedSize);
  current.info.chunked = false;
  current.info.contentLength = static_cast<int64_t>(decodedSize);
  current.action = BodyAction::kHoldText;
}

void ResponseHandler::ForwardBuffer() {
  if (!buffer.Empty()) {
    output.SendToBrowser(buffer.View());
    buffer.Clear();
  }
}

void ResponseHandler::SendHeader() {
  if (current.header.empty()) {
    return;
  }
  std::string text = JoinLines(current.header);
  TerminateHeaderText(text);
  output.SendToBrowser(text);
  current.header.clear();
}

void ResponseHandler::SendHeaderAndBuffer() {
  // Header and body leave together: one segment on the wire for small pages.
  std::string text = JoinLines(current.header);
  TerminateHeaderText(text);
  current.header.clear();
  if (text.empty()) {
    output.SendToBrowser(buffer.View());
  } else {
    output.SendGatheredToBrowser(text, buffer.View());
  }
  buffer.Clear();
}

void ResponseHandler::ReleaseHeld() {
  if (current.action == BodyAction::kDecodeChunked) {
    // The browser gets the original chunked header, what was decoded as one chunk, then the
    // raw rest; from here the body streams unchanged. The raw rest starts with the line end
    // that closed the last decoded chunk's data, which now closes the merged chunk.
    std::string text = JoinLines(current.header);
    TerminateHeaderText(text);
    current.header.clear();
    const std::string_view held = buffer.View();
    const ChunkedProgress& chunked = current.chunked;
    const size_t decodedSize = chunked.decodedEnd - chunked.decodedStart;
    if (decodedSize > 0) {
      char size[32];
      std::snprintf(size, sizeof(size), "%zx\r\n", decodedSize);
      text += size;
      text.append(held.substr(chunked.decodedStart, decodedSize));
    }
    text.append(held.substr(chunked.rawStart));
    // The rest keeps its chunks: they are followed from here to find where the body ends.
    current.walkChunks = true;
    if (chunked.rawStart > 0) {
      current.chunks.StartAfterData();
    } else {
      current.chunks.Start();
    }
    current.chunks.Take(held.substr(chunked.rawStart));
    buffer.Clear();
    output.SendToBrowser(text);
    current.info.chunked = false;
    current.info.contentLength = -1;
  } else {
    SendHeaderAndBuffer();
  }
  current.info.contentClass = kClassOther;
  current.sniffed = true;
  current.action = BodyAction::kStream;
}

void ResponseHandler::Finish() {
  switch (current.action) {
    case BodyAction::kTunnel:
      ForwardBuffer();
      return;
    case BodyAction::kAwaitingHeader:
      // The server closed without ending its header: end it, if it looks like one, and send
      // what came.
      if (!buffer.Empty() && buffer.View().find("HTTP/1.") != std::string_view::npos) {
        buffer.Append("\r\n");
        output.CaptureResponseBytes("\r\n");
        ParseHeader();
      }
      break;
    case BodyAction::kDecodeChunked:
      // The server closed before the last chunk.
      ReleaseHeld();
      break;
    default:
      break;
  }
  if (!buffer.Empty()) {
    SendHeaderAndBuffer();
  } else {
    SendHeader();
  }
  Reset();
  output.ResponseEnded();
}

}  // namespace rw::proxy
