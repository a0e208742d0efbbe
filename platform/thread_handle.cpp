#include "platform/thread_handle.h"

#include <utility>

namespace rw::platform {

ThreadHandle::~ThreadHandle() {
  Join();
}

ThreadHandle::ThreadHandle(ThreadHandle&& other) noexcept
    : thread(std::exchange(other.thread, {})) {}

ThreadHandle& ThreadHandle::operator=(ThreadHandle&& other) noexcept {
  if (this != &other) {
    Join();
    thread = std::exchange(other.thread, {});
  }
  return *this;
}

void ThreadHandle::Join() {
  if (!thread) {
    return;
  }
  // Fails only for a thread that is not joinable or is the caller; the handle holds a joinable
  // thread once, and no thread owns its own handle.
  (void)::pthread_join(*thread, nullptr);
  thread.reset();
}

}  // namespace rw::platform
