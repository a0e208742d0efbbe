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

}  // namespace

void ResponseHandler::Reset() {
  state_ = ResponseState::kAwaitingHeader;
  bodyCount_ = 0;
  info_.contentLength = -1;
  info_.chunked = false;
  info_.contentClass = 0;
  firstData_ = true;
  headerEnd_.Reset();
  decodedBody_.Clear();
  savedLines_.clear();
}

bool ResponseHandler::StreamsUnchanged() const {
  if (!buffer_.Empty()) {
    return false;
  }
  return tunnel_ || (state_ == ResponseState::kInBody && (info_.contentClass & kClassText) == 0 &&
                     headerLines_.empty() && savedLines_.empty() && !info_.chunked);
}

int64_t ResponseHandler::RemainingBodyBytes() const {
  if (tunnel_ || info_.contentLength == -1) {
    return -1;
  }
  return std::max<int64_t>(info_.contentLength - bodyCount_, 0);
}

void ResponseHandler::AccountStreamedBytes(size_t count) {
  if (tunnel_) {
    return;
  }
  firstData_ = false;
  bodyCount_ += static_cast<int64_t>(count);
  if (info_.contentLength != -1 && bodyCount_ >= info_.contentLength) {
    Finish();
  }
}

bool ResponseHandler::HoldsResponse() const {
  return !buffer_.Empty() || !headerLines_.empty() || !savedLines_.empty() || !decodedBody_.Empty();
}

bool ResponseHandler::ParseHeader() {
  statusCode_ = 0;
  if (!headerEnd_.Found(buffer_)) {
    return false;
  }
  SplitHeader(buffer_, !tunnel_, headerLines_, &info_);
  headerEnd_.Reset();
  if (!headerLines_.empty()) {
    statusCode_ = ParseStatusCode(ToLower(headerLines_.front()));
  }
  return true;
}

ServerDataOutcome ResponseHandler::HandleServerData() {
  ServerDataOutcome outcome = ServerDataOutcome::kContinue;
  if (tunnel_) {
    output_.SendToBrowser(buffer_.View());
    buffer_.Clear();
    return outcome;
  }
  while (state_ == ResponseState::kAwaitingHeader) {
    if (!ParseHeader()) {
      if (buffer_.Size() <= kMaxResponseHeaderBytes) {
        return outcome;
      }
      // No header end in 64 KiB: treat it as a response without a header and stream it.
      state_ = ResponseState::kInBody;
      info_.contentClass = kClassOther;
      info_.contentLength = -1;
      info_.chunked = false;
      headerLines_.clear();
      break;
    }
    state_ = ResponseState::kInBody;
    if (IsInterim(statusCode_)) {
      // The interim header goes to the browser at once; a final response in the same read is
      // handled on the next pass of this loop. An interim response has no body, so a length it
      // names must not end the final response early.
      info_.chunked = false;
      info_.contentLength = -1;
      SendHeader();
      outcome = ServerDataOutcome::kInterimForwarded;
      state_ = ResponseState::kAwaitingHeader;
      if (buffer_.Empty()) {
        return outcome;
      }
      continue;
    }
    if (info_.chunked &&
        ((info_.contentClass & kClassText) == 0 || statusCode_ >= 300 || statusCode_ == 204)) {
      info_.chunked = false;
      info_.contentClass = kClassOther;
    }
    if (headRequest_) {
      info_.chunked = false;
      Finish();
      return outcome;
    }
    if (info_.chunked) {
      savedLines_ = std::move(headerLines_);
      headerLines_.clear();
      break;
    }
    if (statusCode_ >= 300 || statusCode_ == 204) {
      info_.contentClass = kClassOther;
    }
    if ((info_.contentClass & kClassText) == 0) {
      SendHeader();
    }
  }

  if (info_.chunked) {
    DecodeOutcome decoded = DecodeChunks(buffer_, decodedBody_, info_.contentLength);
    if (decoded == DecodeOutcome::kMalformed) {
      ReleaseHeld();
    } else if (decoded == DecodeOutcome::kNeedMore) {
      if (HeldBytes() > kMaxHeldResponseBytes) {
        ReleaseHeld();
      }
      return outcome;
    } else {
      CompleteChunkedBody();
    }
  }
  if (firstData_) {
    if ((info_.contentClass & kClassText) != 0) {
      size_t count = std::min<size_t>(buffer_.Size(), 32);
      for (size_t i = 0; i < count; ++i) {
        if (IsBinaryByte(static_cast<unsigned char>(buffer_.Data()[i]))) {
          info_.contentClass = kClassOther;
          SendHeader();
          break;
        }
      }
    }
    firstData_ = false;
  }
  if ((info_.contentClass & kClassText) == 0 && headerLines_.empty()) {
    if (!buffer_.Empty()) {
      bodyCount_ += static_cast<int64_t>(buffer_.Size());
      output_.SendToBrowser(buffer_.View());
      buffer_.Clear();
    }
  } else {
    bodyCount_ = static_cast<int64_t>(buffer_.Size());
    if (HeldBytes() > kMaxHeldResponseBytes) {
      ReleaseHeld();
    }
  }
  if (info_.contentLength != -1 && bodyCount_ >= info_.contentLength) {
    Finish();
  }
  return outcome;
}

void ResponseHandler::CompleteChunkedBody() {
  // The decoded body goes first; anything the server sent after the last chunk follows it.
  ByteBuffer rest = std::move(buffer_);
  buffer_ = std::move(decodedBody_);
  decodedBody_ = ByteBuffer();
  headerEnd_.Reset();
  int64_t decodedSize = static_cast<int64_t>(buffer_.Size());
  buffer_.Append(rest.View());
  info_.chunked = false;
  for (std::string& line : savedLines_) {
    if (ToLower(line).find("transfer-encoding") != std::string::npos) {
      info_.contentLength = decodedSize;
      bodyCount_ = decodedSize;
      char text[48];
      std::snprintf(text, sizeof(text), "Content-Length: %" PRId64 "\n", decodedSize);
      line = text;
      break;
    }
  }
  headerLines_ = std::move(savedLines_);
  savedLines_.clear();
}

void ResponseHandler::SendHeader() {
  if (headerLines_.empty()) {
    return;
  }
  std::string text = JoinLines(headerLines_);
  TerminateHeaderText(text);
  output_.SendToBrowser(text);
  headerLines_.clear();
}

void ResponseHandler::SendHeaderAndBuffer() {
  // One send for header and body: one segment on the wire for small pages.
  std::string text = JoinLines(headerLines_);
  TerminateHeaderText(text);
  headerLines_.clear();
  if (text.empty()) {
    output_.SendToBrowser(buffer_.View());
  } else {
    text.append(buffer_.Data(), buffer_.Size());
    output_.SendToBrowser(text);
  }
  buffer_.Clear();
}

void ResponseHandler::ReleaseHeld() {
  if (state_ == ResponseState::kInBody && info_.chunked) {
    // The browser gets the original chunked header, what was decoded as one chunk, then the
    // raw rest; from here the body streams unchanged. The raw rest starts with the line end
    // that closed the last decoded chunk's data, which now closes the merged chunk.
    std::string text = JoinLines(savedLines_);
    TerminateHeaderText(text);
    savedLines_.clear();
    if (!decodedBody_.Empty()) {
      char size[32];
      std::snprintf(size, sizeof(size), "%zx\r\n", decodedBody_.Size());
      text += size;
      text.append(decodedBody_.Data(), decodedBody_.Size());
      decodedBody_.Clear();
    }
    text.append(buffer_.Data(), buffer_.Size());
    buffer_.Clear();
    output_.SendToBrowser(text);
    info_.chunked = false;
    info_.contentLength = -1;
  } else {
    SendHeaderAndBuffer();
  }
  info_.contentClass = kClassOther;
  firstData_ = false;
}

void ResponseHandler::Finish() {
  if (state_ == ResponseState::kAwaitingHeader && !buffer_.Empty()) {
    bool parsed = false;
    if (buffer_.View().find("HTTP/1.") != std::string_view::npos) {
      buffer_.Append("\r\n");
      output_.CaptureResponseBytes("\r\n");
      parsed = ParseHeader();
    }
    if (!parsed) {
      size_t i = 0;
      std::string_view bytes = buffer_.View();
      while (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (!((c >= 0x01 && c <= 0x20) || c >= 0x80)) {
          break;
        }
        ++i;
      }
      if (i < bytes.size() && bytes[i] == '<') {
        info_.contentClass = kClassHtml | kClassText;
      }
    }
  }
  if (state_ == ResponseState::kInBody && info_.chunked) {
    // The server closed before the last chunk.
    ReleaseHeld();
  }
  if (!buffer_.Empty()) {
    SendHeaderAndBuffer();
  } else {
    SendHeader();
  }
  Reset();
}

}  // namespace rw::proxy
