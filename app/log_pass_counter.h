// Counts the conversations that log passes write, and hands each pass on to the HAR file when
// there is one. The application object owns it and installs it as the store's log pass sink.
// Called on the thread that runs the passes.
#pragma once

#include <atomic>
#include <cstdint>

#include "capture/log_pass_sink.h"

namespace rw::app {

class LogPassCounter : public capture::LogPassSink {
 public:
  void SetNext(capture::LogPassSink* sink) { next = sink; }  // not owned; nullptr for none

  bool Add(const capture::Conversation& conversation) override;
  void Commit() override;
  void Abandon() override;

  // Conversations written by passes that succeeded, since construction.
  int64_t Written() const { return written.load(); }

 private:
  capture::LogPassSink* next = nullptr;
  int64_t inPass = 0;  // the pass now running; passes run one at a time under the store's logLock
  // Read by the main thread after a pass; atomic so that a pass on another thread is safe too.
  std::atomic<int64_t> written{0};
};

}  // namespace rw::app
