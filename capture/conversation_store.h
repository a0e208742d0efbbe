// The process-wide owner of every captured conversation, its counters, memory limit and logs.
// Connection threads add conversations and bytes; the user-interface thread trims, clears, logs
// and builds the page texts. Owned by the application object for the life of the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_notifier.h"
#include "capture/conversation.h"
#include "capture/exchange_observer.h"
#include "capture/log_pass_sink.h"
#include "capture/notifier_slot.h"

namespace rw::capture {

class LogWriter;

class ConversationStore {
 public:
  // Captured bytes of one direction that one page text takes in.
  static constexpr int64_t kPageBudget = 55000;
  // Records one page text looks at, newest first: records with nothing captured cost no budget,
  // so without this a page of empty connections would walk the whole store.
  static constexpr size_t kPageRecords = 2000;
  // Records held at most: connections that capture nothing never reach the byte limit, so the
  // oldest complete records are trimmed (or logged) also when their number passes this.
  static constexpr size_t kMaxConversations = 50000;
  // Held bytes (times the limit) and records (times kMaxConversations) at which the store asks
  // for an upkeep before the next tick, so that memory stays near the limit under any load.
  static constexpr int64_t kUpkeepMark = 2;

  ConversationStore();
  virtual ~ConversationStore();
  ConversationStore(const ConversationStore&) = delete;
  ConversationStore& operator=(const ConversationStore&) = delete;

  void SetNotifier(CaptureNotifier* notifier);  // not owned; nullptr = nobody to tell
  // Not owned; each must outlive the connection threads and log passes that call it.
  void SetExchangeObserver(ExchangeObserver* observer);
  void SetLogPassSink(LogPassSink* sink);

  // Engine side (any connection thread).
  bool AddConversation(
      std::shared_ptr<Conversation> conversation);  // false: out of memory, reported
  // Adds one to the conversation count shown on the Settings page; returns the new count.
  int32_t IncrementConversationCount();
  void AddRequestBytes(int64_t count);
  void AddResponseBytes(int64_t count);

  // User-interface side.
  void Clear();
  // Drops the oldest complete records while over the byte limit or over kMaxConversations.
  void TrimToLimit();
  std::string GetNewRequestData();
  std::string GetNewResponseData();
  void SetLogDir(const std::string& dir);
  // Writes complete records not yet written and frees them. Unforced, runs only over the byte
  // limit or over kMaxConversations, and stops once it has written half the limit's worth and
  // enough records to be back at kMaxConversations.
  bool WriteLogs(bool force);
  // The conversations in store order, for the Detail page's list (empty when memory runs out).
  std::vector<std::shared_ptr<Conversation>> Snapshot() const;

  void SetMaxMB(int32_t maxMB);
  int32_t MaxMB() const;
  // maxMB x 1048576: the store is over its limit when heldBytes reaches it.
  int64_t LimitBytes() const;
  void SetAutoLog(bool on);
  bool AutoLog() const;
  void ResetTrafficCounters();  // Apply zeroes requestBytes and responseBytes
  int64_t RequestBytes() const;
  int64_t ResponseBytes() const;
  int32_t ConversationCount() const;
  int64_t HeldBytes() const;
  std::string LogDir() const;
  std::string TextLogName() const;
  std::string CsvLogName() const;

  // For Conversation: counts bytes it has just stored, in heldBytes and in its own share.
  // Called with the conversation's lock held (heldLock is taken after it). True when these bytes
  // brought the store to its upkeep mark: the caller then calls RequestUpkeep, lock released.
  [[nodiscard]] bool AddHeldBytes(Conversation& conversation, int64_t count);
  // Asks the notifier for an upkeep now. Never called with a store lock held.
  void RequestUpkeep();
  // After an early upkeep (user-interface thread): when it left the held bytes at or past the
  // upkeep mark (records still open hold them), the next early upkeep waits until they have grown
  // by a further limit's worth, so that open exchanges alone cannot ask for upkeeps back to back.
  void AfterEarlyUpkeep();
  // After the timer's upkeep: early upkeeps are asked for again from the usual mark.
  void AfterTickUpkeep();
  // Tells the notifier, if any, of exhausted memory. Never called with a store lock held.
  void ReportFatal(const std::string& text);
  // For Conversation: the slot through which it reports, which outlives this store.
  std::shared_ptr<const NotifierSlot> SharedNotifier() const { return notifier; }
  // For Conversation: the exchange has ended and is about to be marked complete.
  void ExchangeCompleted(const Conversation& conversation);

 private:
  // Takes the record's share out of heldBytes; returns heldBytes afterwards.
  int64_t Unhold(Conversation& conversation);
  // Removes and releases every listed record for which `shouldRemove` says so, in one pass that
  // keeps the order of the rest. `shouldRemove` is asked oldest first. Caller holds listLock.
  template <typename Predicate>
  void RemoveWhere(Predicate shouldRemove);
  std::string PageText(Direction direction, const char* failureText);
  // The writing and freeing part of WriteLogs. Caller holds logLock.
  bool WriteConversations(LogWriter& writer, bool force);
  size_t Count() const;

  // Emptied when the store is destroyed; conversations that outlive it share it.
  const std::shared_ptr<NotifierSlot> notifier = std::make_shared<NotifierSlot>();
  std::atomic<ExchangeObserver*> exchangeObserver{nullptr};
  std::atomic<LogPassSink*> logPassSink{nullptr};
  // Read and written without a lock: the Settings page sets them, the timer reads them, and a
  // failing log pass turns autoLog off.
  std::atomic<bool> autoLog{false};
  std::atomic<int32_t> maxMB{8};
  // Set when an early upkeep is asked for and cleared when an upkeep starts, so that one is asked
  // per upkeep however many connection threads pass the mark.
  std::atomic<bool> upkeepAsked{false};

  // Serialises log passes and guards the names; taken before listLock.
  mutable std::mutex logLock;
  std::string logDir;       // guarded by logLock
  std::string textLogName;  // guarded by logLock
  std::string csvLogName;   // guarded by logLock
  // guarded by logLock: a pass has created the pair named above, so later passes append to it;
  // until then the first pass creates a pair of its own
  bool logFilesCreated = false;

  // Taken before any conversation's lock and before heldLock.
  mutable std::mutex listLock;
  std::vector<std::shared_ptr<Conversation>> conversations;  // guarded by listLock; oldest first

  // Leaf: nothing is taken while it is held.
  mutable std::mutex heldLock;
  int64_t heldBytes = 0;  // guarded by heldLock; with each record's heldCount
  // Held bytes at which the next early upkeep is asked for, when above kUpkeepMark x the limit.
  int64_t raisedUpkeepMark = 0;  // guarded by heldLock

  // Atomics rather than locks: connection threads add to them for every relayed chunk, and the
  // Settings page zeroes and reads them with single stores and loads.
  std::atomic<int64_t> requestBytes{0};
  std::atomic<int64_t> responseBytes{0};
  std::atomic<int32_t> conversationCount{0};
};

}  // namespace rw::capture
