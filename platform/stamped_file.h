// Writing again into a file this program wrote earlier, only while the path still holds that very
// file as it was left: device, inode, size and modification time. Any thread; each call opens and
// closes the file itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rw::platform {

struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;

  bool operator==(const FileStamp&) const = default;
};

// The stamp of an open file; false when fstat fails.
bool StampOf(int fd, FileStamp& stamp);

enum class StampedWriteOutcome {
  kWritten,  // the file now holds `bytes` from `offset` to its end
  kChanged,  // the path no longer holds the stamped file as it was left: nothing was written
  kFailed,   // a call failed; the file was given `restore` back where it could be
};

struct StampedWriteResult {
  StampedWriteOutcome outcome = StampedWriteOutcome::kFailed;
  FileStamp stamp;  // the file as this call left it, when `stamped`
  // With kWritten; with kFailed when nothing was written or `restore` is back in place.
  bool stamped = false;
  int errorNumber = 0;  // with kFailed
};

// Replaces the file's bytes from `offset` to its end by `bytes` and syncs them, provided the file
// at `path` (never followed through a link) is the one `expected` describes. When writing fails
// part-way, `restore` (what was at `offset` before) is written back and the file cut after it,
// so that it holds what it held.
StampedWriteResult WriteIntoStampedFile(const std::string& path, const FileStamp& expected,
                                        int64_t offset, std::string_view bytes,
                                        std::string_view restore);

}  // namespace rw::platform
