#include "platform/program_search.h"

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <sstream>
#include <system_error>

namespace rw::platform {

std::string FindProgramOnPath(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) {
    return {};
  }
  const char* path = ::getenv("PATH");
  std::istringstream directories(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (directory.empty()) {
      continue;  // an empty entry would mean the current folder: never search it
    }
    const std::string candidate = directory + "/" + name;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

namespace {

std::filesystem::path TempBase() {
  std::error_code code;
  std::filesystem::path base = std::filesystem::temp_directory_path(code);
  return code ? std::filesystem::path("/tmp") : base;
}

}  // namespace

std::filesystem::path MakePrivateTempDirectory(const std::string& prefix, int* error) {
  std::string pattern = (TempBase() / (prefix + "XXXXXX")).string();
  // mkdtemp makes the folder 0700 and fails rather than reuse an existing name.
  if (::mkdtemp(pattern.data()) == nullptr) {
    *error = errno;
    return {};
  }
  *error = 0;
  return pattern;
}

std::vector<std::filesystem::path> ListPrivateTempDirectories(const std::string& prefix) {
  std::vector<std::filesystem::path> found;
  const std::filesystem::path base = TempBase();
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(base.c_str()), &::closedir);
  if (listing == nullptr) {
    return found;
  }
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string name = entry->d_name;
    struct stat info {};
    if (name.rfind(prefix, 0) == 0 && ::lstat((base / name).c_str(), &info) == 0 &&
        S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()) {
      found.push_back(base / name);
    }
  }
  return found;
}

bool ProcessExists(pid_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool RemoveDirectoryTree(const std::filesystem::path& directory) {
  std::error_code code;
  std::filesystem::remove_all(directory, code);
  return !code;
}

bool EffectiveUserIsRoot() {
  return ::geteuid() == 0;
}

}  // namespace rw::platform
