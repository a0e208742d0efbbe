// The --har file: a HAR 1.2 document that grows by the conversations each log pass writes, so it
// holds every exchange the logs hold even after the passes have freed them. The file is replaced
// whole (temporary file, rename) at each write, so a reader always finds valid JSON. Used on the
// thread that runs the log passes; owned by the application, which outlives those passes.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/har_builder.h"
#include "capture/log_pass_sink.h"

namespace rw::capture {

class HarLog : public LogPassSink {
 public:
  HarLog(std::string path, HarCreator creator);

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

 private:
  bool WriteLocked();

  const std::string path;
  const HarCreator creator;

  // Leaf; taken inside the store's listLock (Add).
  mutable std::mutex lock;
  std::vector<std::string> passEntries;  // guarded by lock: taken in by the pass now running
  std::vector<std::string> pending;      // guarded by lock: waiting to be written
  bool fileWritten = false;              // guarded by lock: the file holds our document
  int64_t entriesEnd = 0;                // guarded by lock: bytes up to the end of the last entry
  int entriesWritten = 0;                // guarded by lock
  bool lastOk = true;                    // guarded by lock
  std::string lastError;                 // guarded by lock
};

}  // namespace rw::capture
