// The process's current working directory, for the default location of the capture logs.
#pragma once

#include <string>

namespace rw::platform {

// Empty when the directory cannot be read (removed, or a path too long).
std::string CurrentDirectory();

}  // namespace rw::platform
