// Files the program keeps for the user alone (the certificate authority's key and certificate):
// created with their final mode in one step and never followed through a symbolic link, and read
// with the facts needed to judge whether they are still private. Any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/sys_call_result.h"

namespace rw::platform {

enum class LinkRule { kFollow, kRefuse };

struct FileFacts {
  bool regular = false;
  uint32_t permissions = 0;  // the mode's permission bits (07777)
  uid_t owner = 0;
};

struct [[nodiscard]] ReadFileResult {
  int errorNumber = 0;  // errno of the failing call; EFBIG when larger than asked
  std::string data;     // the whole file when Ok()
  FileFacts facts;      // from the open descriptor, so they describe the bytes read
  bool Ok() const { return errorNumber == 0; }
};

// Reads at most `maxBytes`. With kRefuse a symbolic link as the last component fails with ELOOP.
// A file that is not a regular file fails with EINVAL without being read.
ReadFileResult ReadWholeFile(const std::string& path, size_t maxBytes, LinkRule links);

// Creates `path` with open(O_CREAT | O_EXCL | O_NOFOLLOW) and `permissions`, so the file never
// exists with a wider mode, writes `bytes`, syncs and closes it. The mode is set exactly (the
// umask cannot narrow it). EEXIST when anything (a link included) is already there; on any other
// failure the half-written file is removed.
SysCallResult CreateFileExclusive(const std::string& path, uint32_t permissions,
                                  std::string_view bytes);

// Makes `path` a directory that only the user can use: creates it 0700, or takes an existing one
// owned by the user and narrows its mode to 0700. ENOTDIR for a file or a symbolic link there,
// EPERM for a directory owned by someone else.
SysCallResult EnsurePrivateDirectory(const std::string& path);

// Whether something (a symbolic link counts, whatever it points to) is at `path`. value 1 or 0;
// failure only for errors other than "no such file".
SysCallResult PathExists(const std::string& path);

// Removes the file (or link) at `path`; used to take back a file this process has just created.
SysCallResult RemoveFile(const std::string& path);

// The effective user id: who owns what this process creates.
uid_t CurrentUser();

}  // namespace rw::platform
