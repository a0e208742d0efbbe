// The system's own description of an errno value ("Address already in use"), for messages that
// name the reason of a failed call. Thread-safe; any thread.
#pragma once

#include <string>

namespace rw::platform {

std::string ErrorText(int errorNumber);

}  // namespace rw::platform
