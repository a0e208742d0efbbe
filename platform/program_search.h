// Finding programs and a private scratch folder for the programs this one starts. Pure reads of
// the environment and file system; any thread.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace rw::platform {

// The first executable regular file called `name` in the directories of PATH; empty when none.
std::string FindProgramOnPath(const std::string& name);

// A new folder of mode 0700 under the system's temporary folder, its name beginning `prefix`;
// empty with `error` set (errno) when it cannot be made.
std::filesystem::path MakePrivateTempDirectory(const std::string& prefix, int* error);

// The folders directly under the system's temporary folder whose names begin `prefix` and that
// the effective user owns; links are left out, whatever they point to.
std::vector<std::filesystem::path> ListPrivateTempDirectories(const std::string& prefix);

// Whether a process with this id exists, one not yet reaped included.
bool ProcessExists(pid_t pid);

// Removes the folder and everything in it; links inside are removed, never followed.
bool RemoveDirectoryTree(const std::filesystem::path& directory);

bool EffectiveUserIsRoot();

}  // namespace rw::platform
