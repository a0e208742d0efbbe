// Server side: ResponseHandler fed over split reads, with new requests between reads, HEAD
// requests, tunnels and the connection's own streaming of unchanged bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/read_splitter.h"
#include "proxy/response_handler.h"

using namespace rw::proxy;

namespace {

using rw::fuzz::Check;

class RecordingOutput : public ResponseOutput {
 public:
  void SendToBrowser(std::string_view bytes) override { sent.append(bytes); }
  void CaptureResponseBytes(std::string_view bytes) override {
    // The only bytes the handler adds to its own buffer end a header the server left open.
    Check(bytes == "\r\n");
    captured.append(bytes);
  }
  std::string sent;
  std::string captured;
};

std::string WithoutLineEnds(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n') {
      out.push_back(c);
    }
  }
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rw::fuzz::ReadSplitter reads(data, size);
  const bool tunnel = (reads.Flags() & 1) != 0;
  bool head = (reads.Flags() & 2) != 0;
  const bool splice = (reads.Flags() & 4) != 0;
  RecordingOutput output;
  ResponseHandler handler(output);
  handler.SetHeadRequest(head);
  if (tunnel) {
    handler.SetTunnel();
  }
  while (!reads.Done()) {
    bool mark = false;
    std::string_view read = reads.Next(&mark);
    if (mark) {
      // A new request from the browser: what is held is sent, then the next response begins.
      if (handler.HoldsResponse()) {
        handler.Finish();
      }
      handler.Reset();
      head = !head;
      handler.SetHeadRequest(head);
    }
    if (splice && handler.StreamsUnchanged()) {
      // The connection moves such bytes itself, never past the end of the body.
      size_t count = read.size();
      int64_t remaining = handler.RemainingBodyBytes();
      if (remaining >= 0) {
        count = std::min<size_t>(count, static_cast<size_t>(remaining));
      }
      output.SendToBrowser(read.substr(0, count));
      handler.AccountStreamedBytes(count);
      read.remove_prefix(count);
    }
    if (read.empty()) {
      continue;
    }
    handler.Buffer().Append(read);
    handler.HandleServerData();
  }
  handler.Finish();
  Check(!handler.HoldsResponse());
  Check(handler.Buffer().Empty());
  Check(handler.Action() == BodyAction::kAwaitingHeader || handler.Action() == BodyAction::kTunnel);

  const std::string_view input = reads.All();
  if (tunnel) {
    Check(output.sent == input);
    Check(output.captured.empty());
    return 0;
  }
  // Without chunked decoding or dropped header lines the handler only changes line ends: every
  // other byte from the server reaches the browser, once and in order.
  const std::string lower = Lower(input);
  if (lower.find("transfer-encoding") == std::string::npos &&
      lower.find("gzip") == std::string::npos) {
    Check(WithoutLineEnds(output.sent) == WithoutLineEnds(input));
  }
  return 0;
}
