#include "export/har_log.h"

#include <new>
#include <utility>

#include "platform/error_text.h"
#include "platform/replacing_file.h"

namespace rw::capture {

HarLog::HarLog(std::string harPath, HarCreator harCreator, size_t pendingLimit)
    : path(std::move(harPath)), creator(std::move(harCreator)), maxPendingBytes(pendingLimit) {}

bool HarLog::Add(const Conversation& conversation) {
  try {
    std::optional<std::string> entry = HarEntryText(conversation.CopyRecord());
    if (entry) {
      std::lock_guard guard(lock);
      passEntries.push_back(std::move(*entry));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void HarLog::KeepLocked(std::string entry) {
  if (pendingBytes + entry.size() > maxPendingBytes) {
    ++dropped;
    return;
  }
  pendingBytes += entry.size();
  pending.push_back(std::move(entry));
}

void HarLog::Commit() {
  std::lock_guard guard(lock);
  try {
    for (std::string& entry : passEntries) {
      KeepLocked(std::move(entry));
    }
  } catch (const std::bad_alloc&) {
    // The pass's entries that did not fit stay out of the file; say so rather than drop them.
    lastOk = false;
    lastError = "Could not keep the HAR entries of a log pass: out of memory";
    passEntries.clear();
    return;
  }
  passEntries.clear();
  WriteLocked();
}

void HarLog::Abandon() {
  std::lock_guard guard(lock);
  passEntries.clear();
}

bool HarLog::Write(const std::vector<std::shared_ptr<Conversation>>& unlogged) {
  std::lock_guard guard(lock);
  try {
    for (const std::shared_ptr<Conversation>& conversation : unlogged) {
      if (conversation == nullptr) {
        continue;
      }
      if (std::optional<std::string> entry = HarEntryText(conversation->CopyRecord())) {
        KeepLocked(std::move(*entry));
      }
    }
  } catch (const std::bad_alloc&) {
    lastOk = false;
    lastError = "Could not build the HAR entries: out of memory";
    return false;
  }
  return WriteLocked();
}

bool HarLog::WriteLocked() {
  if (fileWritten) {
    bool changed = false;
    if (AppendLocked(changed)) {
      return true;
    }
    if (!changed) {
      return false;
    }
    // Moved, replaced, rewritten or removed by something else: what it held is no longer ours
    // to extend, so a new document begins with the entries not yet written.
    fileWritten = false;
    entriesWritten = 0;
    notice = "The HAR file " + path +
             " was changed, moved or removed by another program; a new HAR file was started "
             "there with the exchanges not yet written";
  }
  return WriteWholeLocked();
}

bool HarLog::AppendLocked(bool& changed) {
  std::string bytes;
  try {
    bytes.reserve(pendingBytes + 2 * pending.size() + HarDocumentTail().size());
    for (size_t i = 0; i < pending.size(); ++i) {
      if (entriesWritten > 0 || i > 0) {
        bytes.append(",\n");
      }
      bytes.append(pending[i]);
    }
    bytes.append(HarDocumentTail());
  } catch (const std::bad_alloc&) {
    lastOk = false;
    lastError = "Could not write " + path + ": out of memory";
    return false;
  }
  const platform::StampedWriteResult result =
      platform::WriteIntoStampedFile(path, stamp, entriesEnd, bytes, HarDocumentTail());
  switch (result.outcome) {
    case platform::StampedWriteOutcome::kWritten:
      stamp = result.stamp;
      entriesEnd += static_cast<int64_t>(bytes.size() - HarDocumentTail().size());
      entriesWritten += static_cast<int>(pending.size());
      pending.clear();
      pendingBytes = 0;
      lastOk = true;
      lastError.clear();
      return true;
    case platform::StampedWriteOutcome::kChanged:
      changed = true;
      return false;
    case platform::StampedWriteOutcome::kFailed:
      break;
  }
  if (result.stamped) {
    stamp = result.stamp;  // the file holds what it held, under a new time
  } else {
    // Left in a state not known to be whole: the next write starts a new document.
    fileWritten = false;
    entriesWritten = 0;
    notice = "The HAR file " + path +
             " could not be put back as it was after a failed write; the next write starts a new "
             "HAR file there with the exchanges not yet written";
  }
  lastOk = false;
  lastError = "Could not write " + path + ": " + platform::ErrorText(result.errorNumber);
  return false;
}

bool HarLog::WriteWholeLocked() {
  platform::ReplacingFile file;
  bool ok = file.Begin(path) && file.Write(HarDocumentHead(creator));
  for (size_t i = 0; ok && i < pending.size(); ++i) {
    ok = (i == 0 || file.Write(",\n")) && file.Write(pending[i]);
  }
  const int64_t newEntriesEnd = file.Size();
  ok = ok && file.Write(HarDocumentTail()) && file.Commit();
  if (!ok) {
    lastOk = false;
    lastError = "Could not write " + path + ": " + platform::ErrorText(file.Error());
    return false;
  }
  fileWritten = true;
  stamp = file.Stamp();
  entriesEnd = newEntriesEnd;
  entriesWritten = static_cast<int>(pending.size());
  pending.clear();
  pendingBytes = 0;
  lastOk = true;
  lastError.clear();
  return true;
}

int HarLog::EntriesWritten() const {
  std::lock_guard guard(lock);
  return entriesWritten;
}

bool HarLog::LastWriteOk() const {
  std::lock_guard guard(lock);
  return lastOk;
}

std::string HarLog::LastError() const {
  std::lock_guard guard(lock);
  return lastError;
}

int64_t HarLog::EntriesDropped() const {
  std::lock_guard guard(lock);
  return dropped;
}

std::string HarLog::TakeNotice() {
  std::lock_guard guard(lock);
  return std::exchange(notice, std::string());
}

}  // namespace rw::capture
