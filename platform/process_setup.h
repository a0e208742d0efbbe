// Process-wide set-up done once at start-up, before any socket is opened.
#pragma once

namespace rw::platform {

// A browser that closes a tab mid-download must not kill the program with SIGPIPE.
void IgnoreSigpipe();

// SIGUSR1 and SIGUSR2 end a process by default: where the program does not use them (the window),
// a stray one must not end it without its logs written.
void IgnoreUserSignals();

// Raises the soft open-file limit to the hard limit: every browser connection holds two sockets.
void RaiseOpenFileLimit();

// Hands freed heap memory back to the system. Connection threads allocate from many malloc arenas;
// after a burst of traffic has been trimmed from the store, the resident size would otherwise stay
// at the burst's peak.
void ReleaseFreeMemory();

// Flushes the standard streams and ends the process at once, running no destructors and no exit
// handlers: for a shutdown that leaves threads running which still use objects that destructors
// would free.
[[noreturn]] void EndProcessNow(int status);

}  // namespace rw::platform
