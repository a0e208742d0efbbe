// Starting and tuning the engine's threads. Callable from any thread.
#pragma once

#include <functional>

#include "platform/os_sys_calls.h"

namespace rw::platform {

// Raises the calling thread's scheduling priority when the system allows it; failure is ignored
// because an unprivileged process usually may not.
void TryRaiseThreadPriority();

// SIGPIPE raised on this thread (splice to a closed socket raises it) stays pending instead of
// ending the process, whether or not the program ignores the signal.
void BlockSigpipeOnThisThread();

// Runs `body` on a new detached thread. value 0 on success; -1 with the error otherwise, in which
// case `body` has not run and has been destroyed.
SysCallResult StartDetachedThread(std::function<void()> body);

}  // namespace rw::platform
