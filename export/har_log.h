// The --har file: a HAR 1.2 document that grows by the conversations each log pass writes, so it
// holds every exchange the logs hold even after the passes have freed them. It is first written
// whole (temporary file, rename); each later write puts its new entries and the document's end
// in place of the old end, so a write costs what its entries cost and the file is valid JSON
// after each one. It writes only into the file it left: when the path holds anything else, it
// starts a new document there. Used on the thread that runs the log passes; owned by the
// application, which outlives those passes.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/log_pass_sink.h"
#include "export/har_builder.h"
#include "platform/stamped_file.h"

namespace rw::capture {

class HarLog : public LogPassSink {
 public:
  // Entries that wait for a write which keeps failing are kept up to `maxPendingBytes` of JSON;
  // further ones are dropped and counted.
  static constexpr size_t kMaxPendingBytes = size_t{64} * 1024 * 1024;
  HarLog(std::string path, HarCreator creator, size_t maxPendingBytes = kMaxPendingBytes);

  // LogPassSink: a pass's entries are taken in by Add and written to the file by Commit. Entries
  // that a failed write could not put in the file are kept and go in with the next write.
  bool Add(const Conversation& conversation) override;
  void Commit() override;
  void Abandon() override;

  // Writes the file now: what the passes took in, then `unlogged` (conversations no pass has
  // written, such as what memory holds at a stop without auto-logging), which are added for good.
  // Writes the empty document when there is nothing. False on failure; LastError() says why.
  bool Write(const std::vector<std::shared_ptr<Conversation>>& unlogged = {});

  const std::string& Path() const { return path; }
  // Entries in the file as last written.
  int EntriesWritten() const;
  // Whether the last write succeeded, and if not, why.
  bool LastWriteOk() const;
  std::string LastError() const;
  // Entries dropped because they waited too long for a write that kept failing.
  int64_t EntriesDropped() const;
  // Something the user should hear once (a new document started because the file was changed
  // or moved), or the empty text; cleared by taking it.
  std::string TakeNotice();

 private:
  bool WriteLocked();
  // A new document at the path: its head, the waiting entries and its end, renamed into place.
  bool WriteWholeLocked();
  bool AppendLocked(bool& changed);
  // Keeps `entry` waiting for the next write, unless the waiting entries are at their bound.
  void KeepLocked(std::string entry);

  const std::string path;
  const HarCreator creator;
  const size_t maxPendingBytes;

  // Leaf; taken inside the store's listLock (Add).
  mutable std::mutex lock;
  std::vector<std::string> passEntries;  // guarded by lock: taken in by the pass now running
  std::vector<std::string> pending;      // guarded by lock: waiting to be written
  size_t pendingBytes = 0;               // guarded by lock: their JSON, in bytes
  int64_t dropped = 0;                   // guarded by lock
  bool fileWritten = false;              // guarded by lock: the file holds our document
  platform::FileStamp stamp;             // guarded by lock: the file as the last write left it
  int64_t entriesEnd = 0;                // guarded by lock: bytes up to the end of the last entry
  int entriesWritten = 0;                // guarded by lock
  bool lastOk = true;                    // guarded by lock
  std::string lastError;                 // guarded by lock
  std::string notice;                    // guarded by lock
};

}  // namespace rw::capture
