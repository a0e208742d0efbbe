#include "capture/conversation_store.h"

#include <algorithm>
#include <new>
#include <utility>

#include "capture/log_writer.h"
#include "platform/current_directory.h"
#include "platform/local_time.h"

namespace rw::capture {
namespace {

constexpr int64_t kBytesPerMB = 1048576;

std::string NowStamp() {
  return platform::FormatLocal(platform::NowLocal(), "%Y%m%d_%H%M%S");
}

}  // namespace

ConversationStore::ConversationStore() {
  logDir = platform::CurrentDirectory();
  if (!logDir.empty()) {
    LogFileNames names = MakeLogFileNames(logDir, NowStamp());
    textLogName = std::move(names.text);
    csvLogName = std::move(names.csv);
  }
}

ConversationStore::~ConversationStore() {
  notifier->Set(nullptr);
  std::lock_guard listGuard(listLock);
  for (const std::shared_ptr<Conversation>& conversation : conversations) {
    conversation->Release();
  }
  conversations.clear();
}

void ConversationStore::SetNotifier(CaptureNotifier* newNotifier) {
  notifier->Set(newNotifier);
}

void ConversationStore::SetExchangeObserver(ExchangeObserver* observer) {
  exchangeObserver.store(observer);
}

void ConversationStore::SetLogPassSink(LogPassSink* sink) {
  logPassSink.store(sink);
}

void ConversationStore::ExchangeCompleted(const Conversation& conversation) {
  if (ExchangeObserver* observer = exchangeObserver.load()) {
    observer->ExchangeCompleted(conversation);
  }
}

void ConversationStore::ReportFatal(const std::string& text) {
  if (CaptureNotifier* target = notifier->Get()) {
    target->FatalError(text);
  }
}

bool ConversationStore::AddConversation(std::shared_ptr<Conversation> conversation) {
  if (conversation == nullptr) {
    return false;
  }
  bool added = true;
  size_t count = 0;
  {
    std::lock_guard listGuard(listLock);
    try {
      conversations.push_back(std::move(conversation));
    } catch (const std::bad_alloc&) {
      added = false;
    }
    count = conversations.size();
  }
  if (!added) {
    ReportFatal("Error in AddConversation");
  }
  if (count >= kUpkeepMark * kMaxConversations && !upkeepAsked.exchange(true)) {
    RequestUpkeep();
  }
  return added;
}

int32_t ConversationStore::IncrementConversationCount() {
  return conversationCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

void ConversationStore::AddRequestBytes(int64_t count) {
  requestBytes.fetch_add(count, std::memory_order_relaxed);
}

void ConversationStore::AddResponseBytes(int64_t count) {
  responseBytes.fetch_add(count, std::memory_order_relaxed);
}

bool ConversationStore::AddHeldBytes(Conversation& conversation, int64_t count) {
  const int64_t usualMark = kUpkeepMark * LimitBytes();
  bool atMark = false;
  {
    std::lock_guard heldGuard(heldLock);
    heldBytes += count;
    conversation.heldCount += count;
    atMark = heldBytes >= std::max(usualMark, raisedUpkeepMark);
  }
  return atMark && !upkeepAsked.exchange(true);
}

void ConversationStore::AfterEarlyUpkeep() {
  const int64_t limit = LimitBytes();
  std::lock_guard heldGuard(heldLock);
  if (heldBytes >= kUpkeepMark * limit) {
    raisedUpkeepMark = heldBytes + limit;
  }
}

void ConversationStore::AfterTickUpkeep() {
  std::lock_guard heldGuard(heldLock);
  raisedUpkeepMark = 0;
}

void ConversationStore::RequestUpkeep() {
  if (CaptureNotifier* target = notifier->Get()) {
    target->UpkeepDue();
  }
}

int64_t ConversationStore::Unhold(Conversation& conversation) {
  std::lock_guard heldGuard(heldLock);
  heldBytes -= conversation.heldCount;
  conversation.heldCount = 0;
  return heldBytes;
}

template <typename Predicate>
void ConversationStore::RemoveWhere(Predicate shouldRemove) {
  size_t kept = 0;
  for (size_t i = 0; i < conversations.size(); ++i) {
    std::shared_ptr<Conversation>& conversation = conversations[i];
    if (shouldRemove(*conversation)) {
      conversation->Release();
      conversation.reset();
      continue;
    }
    if (kept != i) {
      conversations[kept] = std::move(conversation);
    }
    ++kept;
  }
  conversations.erase(conversations.begin() + static_cast<std::ptrdiff_t>(kept),
                      conversations.end());
}

void ConversationStore::Clear() {
  {
    std::lock_guard listGuard(listLock);
    RemoveWhere([](const Conversation& conversation) { return conversation.IsComplete(); });
    // Open records keep their bytes; they start again from zero with heldBytes, so that their
    // later removal cannot take heldBytes below zero.
    std::lock_guard heldGuard(heldLock);
    heldBytes = 0;
    raisedUpkeepMark = 0;
    for (const std::shared_ptr<Conversation>& conversation : conversations) {
      conversation->heldCount = 0;
    }
  }
  responseBytes.store(0);
  requestBytes.store(0);
  conversationCount.store(0);
  if (CaptureNotifier* target = notifier->Get()) {
    target->ShowClearedState();
  }
}

size_t ConversationStore::Count() const {
  std::lock_guard listGuard(listLock);
  return conversations.size();
}

void ConversationStore::TrimToLimit() {
  upkeepAsked.store(false);
  const int64_t limit = LimitBytes();
  if (HeldBytes() < limit && Count() <= kMaxConversations) {
    return;
  }
  std::lock_guard listGuard(listLock);
  size_t count = conversations.size();
  bool underLimit = false;
  RemoveWhere([&](Conversation& conversation) {
    if (underLimit || !conversation.IsComplete()) {
      return false;
    }
    --count;
    underLimit = Unhold(conversation) < limit && count <= kMaxConversations;
    return true;
  });
  if (conversations.capacity() > 2 * conversations.size() + kPageRecords) {
    conversations.shrink_to_fit();  // a burst of records must not pin its array for good
  }
}

std::string ConversationStore::GetNewRequestData() {
  return PageText(Direction::kRequest, "Error in GetNewRequestData");
}

std::string ConversationStore::GetNewResponseData() {
  return PageText(Direction::kResponse, "Error in GetNewResponseData");
}

std::string ConversationStore::PageText(Direction direction, const char* failureText) {
  std::string text;
  bool failed = false;
  {
    std::lock_guard listGuard(listLock);
    const size_t count = conversations.size();
    if (count == 0) {
      return text;
    }
    // Newest first, take in records while their captured bytes fit the budget. When the newest
    // alone is over it, show just that one rather than the whole store.
    size_t first = count - 1;
    int64_t sum = 0;
    const size_t oldest = count > kPageRecords ? count - kPageRecords : 0;
    for (size_t i = count; i-- > oldest;) {
      const Conversation& conversation = *conversations[i];
      const int64_t size = direction == Direction::kRequest ? conversation.RequestDataSize()
                                                            : conversation.ResponseDataSize();
      if (sum + size > kPageBudget) {
        break;
      }
      sum += size;
      first = i;
    }
    try {
      text.reserve(static_cast<size_t>(sum) + (count - first) * 96);
      for (size_t i = first; i < count; ++i) {
        conversations[i]->AppendPageBlock(direction, text);
      }
    } catch (const std::bad_alloc&) {
      failed = true;
    }
  }
  if (failed) {
    ReportFatal(failureText);
  }
  return text;
}

std::vector<std::shared_ptr<Conversation>> ConversationStore::Snapshot() const {
  std::lock_guard listGuard(listLock);
  try {
    return conversations;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

void ConversationStore::SetLogDir(const std::string& dir) {
  if (dir.empty()) {
    return;
  }
  LogFileNames names = MakeLogFileNames(dir, NowStamp());
  std::lock_guard logGuard(logLock);
  logDir = dir;
  textLogName = std::move(names.text);
  csvLogName = std::move(names.csv);
  logFilesCreated = false;
}

bool ConversationStore::WriteLogs(bool force) {
  bool written = false;
  std::string failedName;
  std::string problem;
  bool openFailed = false;
  {
    std::lock_guard logGuard(logLock);
    upkeepAsked.store(false);
    if (!force && HeldBytes() < LimitBytes() && Count() <= kMaxConversations) {
      return true;
    }
    LogWriter writer(LogFileNames{textLogName, csvLogName});
    if (!writer.Open(failedName, problem, !logFilesCreated)) {
      openFailed = true;
    } else {
      // The pair now belongs to this store: later passes append to it.
      logFilesCreated = true;
      textLogName = writer.Names().text;
      csvLogName = writer.Names().csv;
      written = WriteConversations(writer, force);
      if (written) {
        if (LogPassSink* sink = logPassSink.load()) {
          sink->Commit();
        }
      }
    }
  }
  if (!written) {
    autoLog.store(false);
  }
  if (openFailed) {
    if (CaptureNotifier* target = notifier->Get()) {
      target->ShowMessage("Could not open file: " + failedName + " (" + problem + ")");
    }
  }
  return written;
}

bool ConversationStore::WriteConversations(LogWriter& writer, bool force) {
  const int64_t half = LimitBytes() / 2;
  const bool overBytes = HeldBytes() >= LimitBytes();
  int64_t written = 0;
  size_t writtenCount = 0;
  bool ok = true;
  LogPassSink* sink = logPassSink.load();
  std::lock_guard listGuard(listLock);
  const size_t excess =
      conversations.size() > kMaxConversations ? conversations.size() - kMaxConversations : 0;
  try {
    if (writer.CsvNeedsHeader() && !conversations.empty()) {
      ok = writer.WriteHeader();
    }
    for (const std::shared_ptr<Conversation>& conversation : conversations) {
      if (!ok) {
        break;
      }
      if (conversation->logged || !conversation->IsComplete()) {
        continue;
      }
      written += conversation->RequestDataSize() + conversation->ResponseDataSize();
      ok = writer.Write(*conversation) && (sink == nullptr || sink->Add(*conversation));
      conversation->logged = ok;
      ++writtenCount;
      // An automatic pass stops once it has written more than half the limit's worth (when over
      // the limit) and enough records to be back at the count cap, so one timer tick stays
      // bounded.
      if (!force && (!overBytes || written > half) && writtenCount >= excess) {
        break;
      }
    }
    ok = ok && writer.Finish();
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) {
    // Nothing of this pass is known to be on disk: keep every record for a later pass.
    writer.Abandon();
    if (sink != nullptr) {
      sink->Abandon();
    }
    for (const std::shared_ptr<Conversation>& conversation : conversations) {
      conversation->logged = false;
    }
    return false;
  }
  RemoveWhere([this](Conversation& conversation) {
    if (!conversation.logged) {
      return false;
    }
    Unhold(conversation);
    return true;
  });
  if (conversations.capacity() > 2 * conversations.size() + kPageRecords) {
    conversations.shrink_to_fit();
  }
  return true;
}

void ConversationStore::SetMaxMB(int32_t newMaxMB) {
  maxMB.store(newMaxMB);
}

int32_t ConversationStore::MaxMB() const {
  return maxMB.load();
}

int64_t ConversationStore::LimitBytes() const {
  return static_cast<int64_t>(maxMB.load()) * kBytesPerMB;
}

void ConversationStore::SetAutoLog(bool on) {
  autoLog.store(on);
}

bool ConversationStore::AutoLog() const {
  return autoLog.load();
}

void ConversationStore::ResetTrafficCounters() {
  requestBytes.store(0);
  responseBytes.store(0);
}

int64_t ConversationStore::RequestBytes() const {
  return requestBytes.load();
}

int64_t ConversationStore::ResponseBytes() const {
  return responseBytes.load();
}

int32_t ConversationStore::ConversationCount() const {
  return conversationCount.load();
}

int64_t ConversationStore::HeldBytes() const {
  std::lock_guard heldGuard(heldLock);
  return heldBytes;
}

std::string ConversationStore::LogDir() const {
  std::lock_guard logGuard(logLock);
  return logDir;
}

std::string ConversationStore::TextLogName() const {
  std::lock_guard logGuard(logLock);
  return textLogName;
}

std::string ConversationStore::CsvLogName() const {
  std::lock_guard logGuard(logLock);
  return csvLogName;
}

}  // namespace rw::capture
