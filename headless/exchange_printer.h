// Prints one line per completed exchange (headless mode) and counts the exchanges. Connection
// threads hand each finished exchange over in a few hundred nanoseconds; one writer thread of its
// own formats and writes the lines, so lines never interleave and a slow or stuck terminal never
// holds up the relay: past kMaxBacklog lines waiting behind the batch being written, lines are
// dropped and counted instead.
// Owned by the headless runner, which stops it before the store goes away.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>

#include "capture/conversation.h"
#include "capture/exchange_observer.h"
#include "platform/thread_handle.h"

namespace rw::headless {

class ExchangePrinter : public capture::ExchangeObserver {
 public:
  static constexpr size_t kMaxBacklog = 10000;
  // The writer wakes when this many lines wait, and otherwise every kWriteInterval: a connection
  // thread never pays for a wake-up per exchange, and a line shows within that interval.
  static constexpr size_t kWakeBacklog = 256;
  static constexpr std::chrono::milliseconds kWriteInterval{50};

  // With `printLines` false (--quiet) it only counts. `out` is not owned.
  ExchangePrinter(std::FILE* out, bool printLines);
  ~ExchangePrinter() override;
  ExchangePrinter(const ExchangePrinter&) = delete;
  ExchangePrinter& operator=(const ExchangePrinter&) = delete;

  // Any connection thread.
  void ExchangeCompleted(const capture::Conversation& conversation) override;

  // Starts the writer thread. False when it could not be started; then nothing is printed.
  bool Start();
  // Writes every line handed over so far, then ends the writer thread. Exchanges completed
  // afterwards are still counted but not printed.
  void Stop();

  // Exchanges that carried a request (connections that sent nothing are not counted).
  int64_t Completed() const;
  // Lines dropped because the output fell kMaxBacklog lines behind.
  int64_t Dropped() const;

 private:
  void WriterLoop();

  std::FILE* const out;
  const bool printLines;
  platform::ThreadHandle writer;  // main thread only (Start, Stop)

  // Leaf: nothing else is taken while it is held.
  mutable std::mutex lock;
  std::condition_variable wake;
  std::deque<capture::ExchangeSummary> backlog;  // guarded by lock
  bool running = false;                          // guarded by lock
  bool stopping = false;                         // guarded by lock
  int64_t completed = 0;                         // guarded by lock
  int64_t dropped = 0;                           // guarded by lock
};

}  // namespace rw::headless
