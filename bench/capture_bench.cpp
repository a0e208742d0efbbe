// Capture speed: per-chunk capture on connection threads, page texts and log writing on the
// user-interface thread.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "capture/conversation_store.h"
#include "export/har_log.h"

namespace rw::capture {
namespace {

constexpr int32_t kChunk = 64 * 1024;

std::string TextChunk() {
  std::string chunk;
  while (chunk.size() < static_cast<size_t>(kChunk)) {
    chunk += "<p>Relayed page text, line after line.</p>\r\n";
  }
  chunk.resize(kChunk);
  return chunk;
}

std::string Utf8Chunk() {
  std::string chunk;
  while (chunk.size() < static_cast<size_t>(kChunk)) {
    chunk += "<p>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x80\x94 caf\xC3\xA9</p>\n";
  }
  chunk.resize(kChunk - kChunk % 4);
  return chunk;
}

std::string BinaryChunk() {
  std::mt19937 random(7);
  std::string chunk(kChunk, '\0');
  for (char& c : chunk) {
    c = static_cast<char>(random());
  }
  return "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\n\x89PNG" + chunk.substr(48);
}

// One new record per chunk, so every chunk is scanned and (for text) copied up to the cap.
void CaptureChunk(benchmark::State& state, const std::string& chunk) {
  ConversationStore store;
  for (auto _ : state) {
    Conversation conversation(2, store);
    conversation.AddResponseData(chunk.data(), static_cast<int32_t>(chunk.size()));
    benchmark::DoNotOptimize(conversation.ResponseDataSize());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(chunk.size()));
}

void BM_CaptureText64K(benchmark::State& state) {
  CaptureChunk(state, TextChunk());
}
void BM_CaptureUtf8Text64K(benchmark::State& state) {
  CaptureChunk(state, Utf8Chunk());
}
void BM_CaptureBinary64K(benchmark::State& state) {
  CaptureChunk(state, BinaryChunk());
}

// Chunks appended to a record past its cap: only the scan and the counters remain.
void BM_CaptureTextPastCap64K(benchmark::State& state) {
  ConversationStore store;
  Conversation conversation(2, store);
  const std::string chunk = TextChunk();
  for (auto _ : state) {
    conversation.AddResponseData(chunk.data(), kChunk);
  }
  state.SetBytesProcessed(state.iterations() * kChunk);
}

// Complete records of the given sizes until heldBytes reaches `bytes`.
void Fill(ConversationStore& store, int64_t bytes, int32_t& id) {
  const std::string request =
      "GET /some/path?q=1 HTTP/1.1\r\nHost: example\r\n" + std::string(1800, 'h') + "\r\n\r\n";
  const std::string response = TextChunk().substr(0, 30000);
  while (store.HeldBytes() < bytes) {
    auto c = std::make_shared<Conversation>(id++, store);
    store.AddConversation(c);
    c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
    c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
    c->MarkComplete();
  }
}

void BM_PageTextFrom8MB(benchmark::State& state) {
  ConversationStore store;
  int32_t id = 2;
  Fill(store, 8 * 1048576 - 32000, id);
  int64_t bytes = 0;
  for (auto _ : state) {
    const std::string requests = store.GetNewRequestData();
    const std::string responses = store.GetNewResponseData();
    bytes += static_cast<int64_t>(requests.size() + responses.size());
  }
  state.SetBytesProcessed(bytes);
}

void BM_WriteLogs8MB(benchmark::State& state) {
  char pattern[] = "/tmp/rw_bench_XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string dir = pattern;
  int64_t bytes = 0;
  int32_t id = 2;
  for (auto _ : state) {
    state.PauseTiming();
    ConversationStore store;
    store.SetLogDir(dir);
    Fill(store, 8 * 1048576, id);
    const int64_t held = store.HeldBytes();
    state.ResumeTiming();
    if (!store.WriteLogs(true)) {
      state.SkipWithError("WriteLogs failed");
      break;
    }
    state.PauseTiming();
    bytes += held;
    std::filesystem::remove(store.TextLogName());
    std::filesystem::remove(store.CsvLogName());
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  std::filesystem::remove_all(dir);
}

// One HAR write adding one exchange to a file that already holds state.range(0) entries: the
// cost stays that of the one entry however far the file has grown.
void BM_HarPassOneEntry(benchmark::State& state) {
  char pattern[] = "/tmp/rw_bench_XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string dir = pattern;
  ConversationStore store;
  auto conversation = std::make_shared<Conversation>(2, store);
  const std::string request =
      "GET http://example.test/page?q=1 HTTP/1.1\r\nHost: example.test\r\n"
      "User-Agent: bench\r\nAccept: */*\r\n\r\n";
  const std::string response =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
      "Content-Length: 2000\r\n\r\n" +
      std::string(2000, 'x');
  conversation->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
  conversation->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
  HarLog har(dir + "/capture.har", HarCreator{});
  const std::vector<std::shared_ptr<Conversation>> prefill(static_cast<size_t>(state.range(0)),
                                                           conversation);
  if (!har.Write(prefill)) {
    state.SkipWithError("HAR write failed");
  }
  const std::vector<std::shared_ptr<Conversation>> one{conversation};
  for (auto _ : state) {
    if (!har.Write(one)) {
      state.SkipWithError("HAR write failed");
      break;
    }
  }
  std::filesystem::remove_all(dir);
}

BENCHMARK(BM_CaptureText64K);
BENCHMARK(BM_CaptureUtf8Text64K);
BENCHMARK(BM_CaptureBinary64K);
BENCHMARK(BM_CaptureTextPastCap64K);
BENCHMARK(BM_PageTextFrom8MB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteLogs8MB)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_HarPassOneEntry)->Arg(0)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace rw::capture
