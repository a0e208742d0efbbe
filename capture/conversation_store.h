// The process-wide owner of every captured conversation, its counters, memory limit and logs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/capture_notifier.h"
#include "capture/conversation.h"

namespace rw::capture {

class ConversationStore {
 public:
  ConversationStore();
  virtual ~ConversationStore();

  void SetNotifier(CaptureNotifier* notifier);  // not owned; nullptr = nobody to tell

  // Engine side (any connection thread).
  bool AddConversation(std::shared_ptr<Conversation> conversation);  // false: out of memory, reported
  int32_t CountConversation();
  void AddRequestBytes(int64_t count);
  void AddResponseBytes(int64_t count);

  // User-interface side.
  void Clear();
  void TrimToLimit();
  std::string GetNewRequestData();
  std::string GetNewResponseData();
  void SetLogDir(const std::string& dir);
  bool WriteLogs(bool force);

  void SetMaxMB(int32_t maxMB);
  int32_t MaxMB() const;
  void SetAutoLog(bool on);
  bool AutoLog() const;
  void ResetTrafficCounters();  // Apply zeroes requestBytes and responseBytes
  int64_t RequestBytes() const;
  int64_t ResponseBytes() const;
  int32_t ConversationCount() const;
  int64_t HeldBytes() const;
  std::string TextLogName() const;
  std::string CsvLogName() const;
};

}  // namespace rw::capture
