#include "headless/exchange_printer.h"

#include <new>
#include <string>

#include "headless/exchange_line.h"
#include "platform/threads.h"

namespace rw::headless {

ExchangePrinter::ExchangePrinter(std::FILE* stream, bool printEachLine)
    : out(stream), printLines(printEachLine) {}

ExchangePrinter::~ExchangePrinter() {
  Stop();
}

void ExchangePrinter::ExchangeCompleted(const capture::Conversation& conversation) {
  try {
    capture::ExchangeSummary summary = conversation.Summary();
    // A connection that sent nothing is no exchange, but one taken out of TLS that carries the
    // proxy's note (a refused handshake) is: its line says why no request came.
    if (summary.requestTotal == 0 && summary.origin.empty()) {
      return;
    }
    bool notify = false;
    {
      std::lock_guard guard(lock);
      ++completed;
      if (!running) {
        return;
      }
      if (backlog.size() >= kMaxBacklog) {
        ++dropped;
        return;
      }
      backlog.push_back(std::move(summary));
      notify = backlog.size() == kWakeBacklog;
    }
    if (notify) {
      wake.notify_one();
    }
  } catch (const std::bad_alloc&) {
    // A line is not worth ending the connection over; the count says one went missing.
    std::lock_guard guard(lock);
    ++dropped;
  }
}

bool ExchangePrinter::Start() {
  if (!printLines || writer.Joinable()) {
    return false;
  }
  {
    std::lock_guard guard(lock);
    running = true;
    stopping = false;
  }
  platform::ThreadStartResult started =
      platform::StartThread({.kind = platform::ThreadKind::kJoinable}, [this] { WriterLoop(); });
  if (!started.Ok()) {
    std::lock_guard guard(lock);
    running = false;
    return false;
  }
  writer = std::move(started.value);
  return true;
}

void ExchangePrinter::Stop() {
  {
    std::lock_guard guard(lock);
    stopping = true;
  }
  wake.notify_one();
  writer.Join();
}

void ExchangePrinter::WriterLoop() {
  std::deque<capture::ExchangeSummary> batch;
  std::string text;
  for (;;) {
    {
      std::unique_lock guard(lock);
      wake.wait_for(guard, kWriteInterval,
                    [this] { return stopping || backlog.size() >= kWakeBacklog; });
      if (backlog.empty()) {
        if (stopping) {
          // Everything handed over has been written.
          running = false;
          return;
        }
        continue;
      }
      batch.swap(backlog);
    }
    // Formatting and writing happen outside the lock: connection threads only ever wait for a
    // push onto the backlog.
    text.clear();
    for (const capture::ExchangeSummary& summary : batch) {
      try {
        std::string line = FormatExchangeLine(summary);
        if (!line.empty()) {
          text.append(line).push_back('\n');
        }
      } catch (const std::bad_alloc&) {
        std::lock_guard guard(lock);
        ++dropped;
      }
    }
    batch.clear();
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
  }
}

int64_t ExchangePrinter::Completed() const {
  std::lock_guard guard(lock);
  return completed;
}

int64_t ExchangePrinter::Dropped() const {
  std::lock_guard guard(lock);
  return dropped;
}

}  // namespace rw::headless
