// Response handling cost per page on a connection thread, sockets left out: held text pages (a
// chunked one decoded, one with a length) fed in the reads a server's writes typically give.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "proxy/response_handler.h"

namespace rw::proxy {
namespace {

class CountingOutput : public ResponseOutput {
 public:
  void SendToBrowser(std::string_view bytes) override { sent += bytes.size(); }
  void SendGatheredToBrowser(std::string_view head, std::string_view body) override {
    sent += head.size() + body.size();
  }
  void CaptureResponseBytes(std::string_view) override {}
  size_t sent = 0;
};

std::string PageText(size_t size) {
  std::string text;
  while (text.size() < size) {
    text += "<p>Relayed page text, line after line.</p>\r\n";
  }
  text.resize(size);
  return text;
}

// The reads of one response: the header with the first piece, then the rest in `readSize` reads.
std::vector<std::string> Reads(const std::string& response, size_t headerSize, size_t readSize) {
  std::vector<std::string> reads;
  size_t at = 0;
  size_t first = headerSize + readSize;
  reads.push_back(response.substr(0, first));
  for (at = first; at < response.size(); at += readSize) {
    reads.push_back(response.substr(at, readSize));
  }
  return reads;
}

void FeedPages(benchmark::State& state, const std::vector<std::string>& reads, size_t expected) {
  CountingOutput output;
  ResponseHandler handler(output);
  handler.Reset();
  size_t bytes = 0;
  for (auto _ : state) {
    output.sent = 0;
    for (const std::string& read : reads) {
      handler.Buffer().Append(read);
      handler.HandleServerData();
      bytes += read.size();
    }
    if (output.sent != expected) {
      state.SkipWithError("page not sent whole");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// 64 KiB of text in two chunks of 32 KiB, each arriving in its own read.
void BM_ChunkedTextPage64KiB(benchmark::State& state) {
  const std::string half = PageText(32 * 1024);
  const std::string header =
      "HTTP/1.1 200 OK\r\nServer: origin\r\nContent-Type: text/html\r\n"
      "Transfer-Encoding: chunked\r\nConnection: keep-alive\r\n\r\n";
  const std::string chunk = "8000\r\n" + half + "\r\n";
  const std::vector<std::string> reads = {header + chunk, chunk + "0\r\n\r\n"};
  const std::string sentHeader =
      "HTTP/1.1 200 OK\r\nServer: origin\r\nContent-Type: text/html\r\n"
      "Content-Length: 65536\nConnection: keep-alive\r\n\r\n";
  FeedPages(state, reads, sentHeader.size() + 2 * half.size());
}
BENCHMARK(BM_ChunkedTextPage64KiB);

// 1 MiB of text with a length, in reads of 128 KiB.
void BM_HeldTextPage1MiB(benchmark::State& state) {
  const std::string body = PageText(1024 * 1024);
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1048576\r\n\r\n";
  FeedPages(state, Reads(header + body, header.size(), 128 * 1024), header.size() + body.size());
}
BENCHMARK(BM_HeldTextPage1MiB);

}  // namespace
}  // namespace rw::proxy
