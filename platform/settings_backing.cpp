#include "platform/settings_backing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "platform/file_descriptor.h"
#include "platform/read_up_to.h"
#include "platform/write_all.h"

namespace rw::platform {
namespace {

constexpr const char* kKeyPath = "HKEY_LOCAL_MACHINE/Software/Quillon/Relaywatch";

}  // namespace

SettingsBacking::SettingsBacking(std::filesystem::path directory)
    : keyDirectory(std::move(directory)) {}

std::filesystem::path SettingsBacking::DefaultKeyDirectory() {
  std::filesystem::path root;
  if (const char* dir = std::getenv("RELAYWATCH_CONFIG_DIR"); dir != nullptr && *dir != '\0') {
    root = dir;
  } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    root = std::filesystem::path(xdg) / "relaywatch";
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    root = std::filesystem::path(home) / ".config" / "relaywatch";
  } else {
    root = std::filesystem::path(".relaywatch");
  }
  return root / kKeyPath;
}

bool SettingsBacking::IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool SettingsBacking::CreateKey() const {
  // Walk the path ourselves so every directory we create is private to the user.
  std::filesystem::path partial;
  for (const auto& part : keyDirectory) {
    partial /= part;
    if (partial.empty() || partial == partial.root_path()) {
      continue;
    }
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      return false;
    }
  }
  struct stat st {};
  return ::stat(keyDirectory.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(keyDirectory.c_str(), R_OK | W_OK | X_OK) == 0;
}

SettingsBacking::ReadResult SettingsBacking::ReadValue(std::string_view name,
                                                       size_t maxBytes) const {
  ReadResult result;
  const FileDescriptor directory(::open(keyDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.Valid()) {
    result.status = ReadStatus::kKeyUnavailable;
    return result;
  }
  if (!IsPlainName(name)) {
    result.status = ReadStatus::kValueMissing;
    return result;
  }
  const std::string fileName(name);
  const FileDescriptor file(
      ::openat(directory.Get(), fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file.Valid()) {
    result.status = ReadStatus::kValueMissing;
    return result;
  }
  // One byte more than allowed tells a value that is too large from one that just fits.
  BoundedRead read = ReadUpTo(file.Get(), maxBytes + 1);
  if (read.errorNumber != 0) {
    result.status = ReadStatus::kValueMissing;
  } else if (read.data.size() > maxBytes) {
    result.status = ReadStatus::kTooLarge;
  } else {
    result.status = ReadStatus::kOk;
    result.data = std::move(read.data);
  }
  return result;
}

bool SettingsBacking::WriteValue(std::string_view name, std::string_view data) const {
  if (!IsPlainName(name)) {
    return false;
  }
  struct stat st {};
  if (::stat(keyDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return false;
  }
  const std::filesystem::path target = keyDirectory / std::string(name);
  std::string temp = (keyDirectory / ("." + std::string(name) + ".XXXXXX")).string();
  FileDescriptor file(::mkostemp(temp.data(), O_CLOEXEC));
  if (!file.Valid()) {
    return false;
  }
  bool ok =
      ::fchmod(file.Get(), 0600) == 0 && WriteAll(file, data).Ok() && ::fsync(file.Get()) == 0;
  ok = file.Close().Ok() && ok;
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) {
    return true;
  }
  ::unlink(temp.c_str());
  return false;
}

}  // namespace rw::platform
