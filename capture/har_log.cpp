#include "capture/har_log.h"

#include <new>
#include <utility>

#include "platform/error_text.h"
#include "platform/replacing_file.h"

namespace rw::capture {

HarLog::HarLog(std::string path, HarCreator creator)
    : path(std::move(path)), creator(std::move(creator)) {}

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

void HarLog::Commit() {
  std::lock_guard guard(lock);
  try {
    for (std::string& entry : passEntries) {
      pending.push_back(std::move(entry));
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
        pending.push_back(std::move(*entry));
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
  platform::ReplacingFile file;
  bool ok = file.Begin(path);
  if (ok && fileWritten) {
    // The entries already there are copied, not rebuilt: their records may be long gone.
    ok = file.CopyFromCurrent(entriesEnd);
  } else if (ok) {
    ok = file.Write(HarDocumentHead(creator));
  }
  int entries = entriesWritten;
  for (size_t i = 0; ok && i < pending.size(); ++i) {
    ok = (entries == 0 || file.Write(",\n")) && file.Write(pending[i]);
    ++entries;
  }
  const int64_t newEntriesEnd = file.Size();
  ok = ok && file.Write(HarDocumentTail()) && file.Commit();
  if (!ok) {
    lastOk = false;
    lastError = "Could not write " + path + ": " + platform::ErrorText(file.Error());
    return false;
  }
  pending.clear();
  fileWritten = true;
  entriesEnd = newEntriesEnd;
  entriesWritten = entries;
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

}  // namespace rw::capture
