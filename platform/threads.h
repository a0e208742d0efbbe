// Starting and tuning the program's threads. Callable from any thread.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/sys_call_result.h"
#include "platform/thread_handle.h"

namespace rw::platform {

enum class ThreadKind {
  kJoinable,  // the returned handle joins it
  kDetached,  // runs on its own; the returned handle is empty
};

struct ThreadOptions {
  ThreadKind kind = ThreadKind::kJoinable;
  size_t stackBytes = 0;  // 0: the system's default stack size
};

// A started thread's handle (empty for a detached one), or the error number of a failed start.
using ThreadStartResult = CallResult<ThreadHandle>;

// Runs `body` on a new thread, which owns `body` and destroys it when `body` returns. On failure
// `body` has not run and has been destroyed.
ThreadStartResult StartThread(ThreadOptions options, std::function<void()> body);

// Raises the calling thread's scheduling priority when the system allows it; failure is ignored
// because an unprivileged process usually may not.
void TryRaiseThreadPriority();

// SIGPIPE raised on this thread (splice to a closed socket raises it) stays pending instead of
// ending the process, whether or not the program ignores the signal.
void BlockSigpipeOnThisThread();

}  // namespace rw::platform
