// Writes a new version of a file beside it under a temporary name and renames it into place, so a
// reader opening the file at any moment finds the old version or the new one, whole. Used by one
// thread at a time; created with mode 0600 because what it holds (captured traffic) is private.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"
#include "platform/stamped_file.h"

namespace rw::platform {

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();  // abandons a version that was not committed
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Starts a new version of `path`: a temporary file in the same directory. False when it cannot
  // be created; Error() says why.
  bool Begin(const std::string& path);
  // Buffered; false once any write has failed, and then stays false.
  bool Write(std::string_view bytes);
  // Flushes, syncs and closes the temporary file and renames it over the target.
  bool Commit();
  // Closes and removes the temporary file; the target is left as it was.
  void Abandon();

  // errno of the first failure, 0 when none.
  int Error() const { return error; }
  // Bytes written to the new version so far.
  int64_t Size() const { return size; }
  // The committed version as it was renamed into place (a rename keeps all of it).
  const FileStamp& Stamp() const { return stamp; }

 private:
  bool Flush();
  bool WriteNow(std::string_view bytes);
  bool Fail(int errorNumber);

  std::string target;
  std::string temporary;
  FileDescriptor file;
  int error = 0;
  int64_t size = 0;
  std::string pending;
  FileStamp stamp;
};

}  // namespace rw::platform
