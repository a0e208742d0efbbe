// A file opened for appending only, created with mode 0600, with checked buffered writes, flush
// and close. Used by one thread at a time; its owner (the capture log writer) closes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace rw::platform {

class AppendFile {
 public:
  // Opens (or creates, mode 0600) `path` for appending, never through a symbolic link. False when
  // it cannot; Error() says why.
  bool Open(const std::string& path);

  enum class Creation { kOpenOrCreate, kCreateNew };
  // As Open, for a file that holds private data in a directory others may write to: a file
  // already there must be a regular file owned by this user, and is brought to mode 0600.
  // kCreateNew fails with EEXIST when anything is at `path`. When false, Problem() says why.
  bool OpenPrivate(const std::string& path, Creation creation);
  // Why the last Open or OpenPrivate failed, in words for the user.
  std::string Problem() const;
  // Closes the file and removes it, when this handle created it with kCreateNew.
  void RemoveCreated();
  // Size of the file when it was opened: 0 for a file created now or found empty.
  int64_t SizeAtOpen() const { return sizeAtOpen; }

  // Buffered; false once any write has failed (a full disk), and then stays false.
  bool Write(std::string_view bytes);
  // Hands everything buffered to the kernel; false when not all of it was written.
  bool Flush();
  // Flushes and closes, checking both. (Destroying an open file closes it without the checks.)
  bool Close();
  // Best effort: drops what this handle appended, cutting the file back to SizeAtOpen(), and
  // closes it. Used after a failed pass so that a later pass does not leave half-written rows.
  void Abandon();

  // errno of the first failure, 0 when none.
  int Error() const { return error; }

 private:
  bool WriteNow(std::string_view bytes);
  bool OpenWith(const std::string& path, int flags, bool privateFile);

  enum class Refusal { kNone, kSymbolicLink, kNotRegular, kOtherOwner };

  FileDescriptor file;
  Refusal refusal = Refusal::kNone;
  std::string createdPath;  // set while open, when created by OpenPrivate with kCreateNew
  int64_t sizeAtOpen = 0;
  int error = 0;
  std::string pending;
};

}  // namespace rw::platform
