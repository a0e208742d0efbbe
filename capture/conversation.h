// One captured request/response exchange. Created by a connection thread, owned by the
// ConversationStore (shared ownership, so handles held by pages stay safe after removal).
// Appends and marks come from the owning connection thread; renderings from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace rw::capture {

class ConversationStore;

class Conversation {
 public:
  // Stamps startTime/lastDataTime now and all four ticks from the tick source.
  Conversation(int32_t id, ConversationStore& store);
  virtual ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  void AddRequestData(const char* data, int32_t count);
  void AddResponseData(const char* data, int32_t count);

  void MarkConnectStart();
  void MarkConnected();
  void MarkEnd();
  void MarkComplete();

  int32_t GetId() const;
  bool IsComplete() const;
  // Captured response bytes so far (the engine ends an exchange when new request bytes arrive
  // while this is non-zero).
  int64_t ResponseDataSize() const;
  int64_t RequestDataSize() const;
  int64_t RequestTotal() const;
  int64_t ResponseTotal() const;

  std::string ConnectTimeText() const;
  std::string RetrieveTimeText() const;
  std::string TotalTimeText() const;
  std::string RequestFirstLine() const;
  std::string ResponseFirstLine() const;
  std::string RequestText() const;
  std::string ResponseText() const;
  // ... further accessors the store, renderings and log writer need.
};

}  // namespace rw::capture
