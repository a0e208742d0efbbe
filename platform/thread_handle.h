// Owns one joinable thread that StartThread started, and joins it when it goes, so that the thread
// never outlives the object whose work it does. Move-only; used by the thread that started it.
#pragma once

#include <pthread.h>

#include <optional>

namespace rw::platform {

class ThreadHandle {
 public:
  // No thread: what a detached start or a failed one gives.
  ThreadHandle() = default;
  explicit ThreadHandle(pthread_t started) : thread(started) {}
  ~ThreadHandle();
  ThreadHandle(ThreadHandle&& other) noexcept;
  // Joins the thread held so far before taking the other's.
  ThreadHandle& operator=(ThreadHandle&& other) noexcept;
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;

  // Waits for the thread to end. Nothing to do when the handle holds none.
  void Join();
  bool Joinable() const { return thread.has_value(); }

 private:
  std::optional<pthread_t> thread;
};

}  // namespace rw::platform
