// Maps Linux errno values to the Windows Sockets codes the user-visible error texts are keyed by.
// Pure; callable from any thread.
#pragma once

#include <cstdint>

namespace rw::platform {

// The Windows Sockets code for `errorNumber`; an errno without one is returned unchanged, so the
// text shows its own number. 0 stays 0 (no error).
uint32_t WinsockCodeFromErrno(int errorNumber);

}  // namespace rw::platform
