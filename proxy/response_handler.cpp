#include "proxy/response_handler.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "proxy/chunk_decoder.h"
#include "proxy/fixed_replies.h"

namespace rw::proxy {
namespace {

bool IsBinaryByte(unsigned char c) {
  return c <= 0x08 || c >= 0x80;
}

bool IsInterim(int32_t status) {
  // 101 switches protocols and is final; the other 1xx precede the real response.
  return status >= 100 && status < 200 && status != 101;
}

bool IsLineNamed(const std::string& line, std::string_view lowerName) {
  std::string_view value;
  return HeaderValueIfNamed(ToLower(line), lowerName, &value);
}

// A decoded body is sent with its length: the line named Transfer-Encoding becomes a
// Content-Length line, and a Content-Length the server sent beside it (which the coding
// overrides) goes, so the browser never sees two lengths. The header's end is added when the
// lines are joined, so a replaced or removed last line loses nothing.
void LengthInsteadOfCoding(LineList& lines, size_t length) {
  bool replaced = false;
  for (auto line = lines.begin(); line != lines.end();) {
    if (!replaced && IsLineNamed(*line, "transfer-encoding")) {
      char text[48];
      std::snprintf(text, sizeof(text), "Content-Length: %zu\n", length);
      *line = text;
      replaced = true;
      ++line;
    } else if (IsLineNamed(*line, "content-length")) {
      line = lines.erase(line);
    } else {
      ++line;
    }
  }
}

}  // namespace

void ResponseOutput::SendGatheredToBrowser(std::string_view head, std::string_view body) {
  std::string bytes;
  bytes.reserve(head.size() + body.size());
  bytes.append(head);
  bytes.append(body);
  SendToBrowser(bytes);
}

void ResponseHandler::Reset() {
  current_ = Progress(tunnel_ ? BodyAction::kTunnel : BodyAction::kAwaitingHeader);
}

void ResponseHandler::SetTunnel() {
  tunnel_ = true;
  current_.action = BodyAction::kTunnel;
}

bool ResponseHandler::StreamsUnchanged() const {
  if (!buffer_.Empty()) {
    return false;
  }
  return current_.action == BodyAction::kTunnel ||
         (current_.action == BodyAction::kStream && current_.header.empty());
}

int64_t ResponseHandler::RemainingBodyBytes() const {
  if (current_.action == BodyAction::kTunnel || current_.info.contentLength == -1) {
    return -1;
  }
  return std::max<int64_t>(current_.info.contentLength - current_.bodyBytes, 0);
}

void ResponseHandler::AccountStreamedBytes(size_t count) {
  if (current_.action == BodyAction::kTunnel) {
    return;
  }
  current_.sniffed = true;
  current_.bodyBytes += static_cast<int64_t>(count);
  if (current_.info.contentLength != -1 && current_.bodyBytes >= current_.info.contentLength) {
    Finish();
  }
}

bool ResponseHandler::HoldsResponse() const {
  return !buffer_.Empty() || !current_.header.empty();
}

bool ResponseHandler::ParseHeader() {
  current_.statusCode = 0;
  if (!current_.headerEnd.Found(buffer_)) {
    return false;
  }
  // Each header is read afresh: what an interim response said does not carry over.
  current_.info = ResponseHeaderInfo{};
  SplitHeader(buffer_, true, current_.header, &current_.info);
  current_.headerEnd.Reset();
  if (!current_.header.empty()) {
    current_.statusCode = ParseStatusCode(ToLower(current_.header.front()));
  }
  return true;
}

ServerDataOutcome ResponseHandler::HandleServerData() {
  bool interimForwarded = false;
  while (current_.action == BodyAction::kAwaitingHeader) {
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
  switch (current_.action) {
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
    if (IsInterim(current_.statusCode)) {
      return HeaderKind::kInterim;
    }
    return current_.statusCode == 101 ? HeaderKind::kSwitchingProtocols : HeaderKind::kFinal;
  }
  if (buffer_.Size() <= kMaxResponseHeaderBytes) {
    return HeaderKind::kIncomplete;
  }
  // No header end in 64 KiB: a response without a header, streamed as received.
  current_.info = ResponseHeaderInfo{.contentClass = kClassOther};
  current_.header.clear();
  current_.action = BodyAction::kStream;
  return HeaderKind::kHeaderless;
}

void ResponseHandler::ForwardInterim() {
  // The interim header goes to the browser at once; a final response in the same read is parsed
  // on the next pass.
  SendHeader();
  current_.info = ResponseHeaderInfo{};
}

void ResponseHandler::SwitchToTunnel() {
  SendHeader();
  SetTunnel();
  ForwardBuffer();
}

void ResponseHandler::ChooseBodyAction() {
  ResponseHeaderInfo& info = current_.info;
  const int32_t status = current_.statusCode;
  if (status >= 300 || status == 204) {
    // No body worth holding, and nothing to decode: sent as it comes.
    info.contentClass = kClassOther;
    info.chunked = false;
  }
  if ((info.contentClass & kClassText) == 0) {
    info.chunked = false;
  }
  if (headRequest_) {
    // No body follows, whatever the header says about one.
    info.chunked = false;
    current_.action = BodyAction::kHoldText;
    Finish();
    return;
  }
  if ((info.contentClass & kClassText) == 0) {
    current_.action = BodyAction::kStream;
    SendHeader();
  } else if (info.chunked) {
    current_.action = BodyAction::kDecodeChunked;
  } else {
    current_.action = BodyAction::kHoldText;
  }
}

bool ResponseHandler::DecodeChunkStage() {
  switch (DecodeChunksInPlace(buffer_, current_.chunked)) {
    case DecodeOutcome::kMalformed:
      ReleaseHeld();
      return true;
    case DecodeOutcome::kNeedMore:
      if (buffer_.Size() > kMaxHeldResponseBytes) {
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
  if (current_.sniffed) {
    return;
  }
  current_.sniffed = true;
  if (current_.action != BodyAction::kHoldText) {
    return;
  }
  std::string_view first = buffer_.View().substr(0, 32);
  for (char c : first) {
    if (IsBinaryByte(static_cast<unsigned char>(c))) {
      current_.info.contentClass = kClassOther;
      current_.action = BodyAction::kStream;
      SendHeader();
      return;
    }
  }
}

void ResponseHandler::StreamOrHold() {
  if (current_.action == BodyAction::kStream) {
    current_.bodyBytes += static_cast<int64_t>(buffer_.Size());
    ForwardBuffer();
  } else {
    current_.bodyBytes = static_cast<int64_t>(buffer_.Size());
    if (buffer_.Size() > kMaxHeldResponseBytes) {
      ReleaseHeld();
    }
  }
  if (current_.info.contentLength != -1 && current_.bodyBytes >= current_.info.contentLength) {
    Finish();
  }
}

void ResponseHandler::CompleteChunkedBody() {
  // The buffer now holds the decoded body, then anything the server sent after the last chunk.
  const size_t decodedSize = current_.chunked.decodedEnd;
  LengthInsteadOfCoding(current_.header, decodedSize);
  current_.info.chunked = false;
  current_.info.contentLength = static_cast<int64_t>(decodedSize);
  current_.action = BodyAction::kHoldText;
}

void ResponseHandler::ForwardBuffer() {
  if (!buffer_.Empty()) {
    output_.SendToBrowser(buffer_.View());
    buffer_.Clear();
  }
}

void ResponseHandler::SendHeader() {
  if (current_.header.empty()) {
    return;
  }
  std::string text = JoinLines(current_.header);
  TerminateHeaderText(text);
  output_.SendToBrowser(text);
  current_.header.clear();
}

void ResponseHandler::SendHeaderAndBuffer() {
  // Header and body leave together: one segment on the wire for small pages.
  std::string text = JoinLines(current_.header);
  TerminateHeaderText(text);
  current_.header.clear();
  if (text.empty()) {
    output_.SendToBrowser(buffer_.View());
  } else {
    output_.SendGatheredToBrowser(text, buffer_.View());
  }
  buffer_.Clear();
}

void ResponseHandler::ReleaseHeld() {
  if (current_.action == BodyAction::kDecodeChunked) {
    // The browser gets the original chunked header, what was decoded as one chunk, then the
    // raw rest; from here the body streams unchanged. The raw rest starts with the line end
    // that closed the last decoded chunk's data, which now closes the merged chunk.
    std::string text = JoinLines(current_.header);
    TerminateHeaderText(text);
    current_.header.clear();
    const std::string_view held = buffer_.View();
    const ChunkedProgress& chunked = current_.chunked;
    const size_t decodedSize = chunked.decodedEnd - chunked.decodedStart;
    if (decodedSize > 0) {
      char size[32];
      std::snprintf(size, sizeof(size), "%zx\r\n", decodedSize);
      text += size;
      text.append(held.substr(chunked.decodedStart, decodedSize));
    }
    text.append(held.substr(chunked.rawStart));
    buffer_.Clear();
    output_.SendToBrowser(text);
    current_.info.chunked = false;
    current_.info.contentLength = -1;
  } else {
    SendHeaderAndBuffer();
  }
  current_.info.contentClass = kClassOther;
  current_.sniffed = true;
  current_.action = BodyAction::kStream;
}

void ResponseHandler::Finish() {
  switch (current_.action) {
    case BodyAction::kTunnel:
      ForwardBuffer();
      return;
    case BodyAction::kAwaitingHeader:
      // The server closed without ending its header: end it, if it looks like one, and send
      // what came.
      if (!buffer_.Empty() && buffer_.View().find("HTTP/1.") != std::string_view::npos) {
        buffer_.Append("\r\n");
        output_.CaptureResponseBytes("\r\n");
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
  if (!buffer_.Empty()) {
    SendHeaderAndBuffer();
  } else {
    SendHeader();
  }
  Reset();
}

}  // namespace rw::proxy
