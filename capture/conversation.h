// One captured request/response exchange. Created by a connection thread, owned by the
// ConversationStore (shared ownership, so handles held by pages stay safe after removal).
// Appends and marks come from the owning connection thread; renderings from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "capture/notifier_slot.h"
#include "capture/text_prefix.h"
#include "platform/local_time.h"

namespace rw::capture {

class ConversationStore;

enum class Direction { kRequest, kResponse };

// A consistent copy of one record, taken under its lock, for exports that read every field.
struct ConversationRecord {
  int32_t id = 0;
  int64_t startMilliseconds = 0;  // wall clock at creation, ms since the epoch
  std::string request;            // captured bytes
  std::string response;
  // Where the captured bytes stop being one unbroken run of what was sent, or -1 when they are
  // all one run. A read's text stops at a byte that ends it and the rest of that read is not
  // captured, so what later reads add does not follow on from it: a header is read only from
  // the bytes before the cut.
  int64_t requestCutAt = -1;
  int64_t responseCutAt = -1;
  int64_t requestTotal = 0;
  int64_t responseTotal = 0;
  uint32_t startTick = 0;
  uint32_t connectStartTick = 0;
  uint32_t connectedTick = 0;
  uint32_t firstResponseTick = 0;  // equals lastTick when no response byte arrived
  bool responseStarted = false;
  uint32_t lastTick = 0;
  bool released = false;
  std::string origin;  // Conversation::Origin()
};

// What one line about a completed exchange needs, without copying the captured bodies.
struct ExchangeSummary {
  int32_t id = 0;
  int64_t startMilliseconds = 0;
  std::string requestLine;  // first line of the request, as FirstLine gives it
  // The status line that answered it: the response's first line, or for a tunnel the proxy's
  // own reply, which is captured after the CONNECT request.
  std::string statusLine;
  int64_t requestTotal = 0;
  int64_t responseTotal = 0;
  int32_t totalMilliseconds = 0;
  std::string origin;  // Conversation::Origin()
};

class Conversation {
 public:
  // Each direction keeps at most this many captured bytes.
  static constexpr int64_t kMaxCaptured = 60000;

  // Stamps startTime/lastDataTime now and all four ticks from the tick source. Appends count
  // their bytes in `store`, which must outlive them (it outlives the connection threads that
  // append); failures are reported through the store's notifier slot, which is safe after it.
  // `origin` ("https://host[:port]") names the server of an exchange taken out of TLS, whose
  // request line is in origin form; empty for every other exchange.
  Conversation(int32_t id, ConversationStore& store, std::string origin = {});
  virtual ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  void AddRequestData(const char* data, int32_t count);
  void AddResponseData(const char* data, int32_t count);
  // A response read of `count` bytes of which only the first `seen` are at hand (moved without
  // copying). Captures exactly what AddResponseData would from all of them, provided the `seen`
  // bytes reach a byte that ends the captured text, the capture is full, or `seen` is `count`.
  void AddResponseDataSeen(const char* data, int32_t seen, int32_t count);

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
  platform::LocalDateTime StartTime() const;
  // Wall-clock creation time with milliseconds, since the epoch.
  int64_t StartMilliseconds() const { return startMilliseconds; }
  // Fixed at construction: any thread may read it without a lock.
  const std::string& Origin() const { return origin; }
  // True once the store has removed the record; its data is then gone.
  bool IsReleased() const;

  std::string ConnectTimeText() const;
  std::string RetrieveTimeText() const;
  std::string TotalTimeText() const;
  // These report exhausted memory through the store's notifier ("Error in ConvertArrayToString")
  // and then give the empty text, so they must not be called while holding a store lock.
  std::string RequestFirstLine() const;
  std::string ResponseFirstLine() const;
  std::string RequestText() const;
  std::string ResponseText() const;

  // The same renderings for callers that hold a store lock or report failures their own way:
  // these let std::bad_alloc through. FullText gives the data-gone text and FirstLine the empty
  // text once the record is released.
  std::string FirstLine(Direction direction) const;
  std::string FullText(Direction direction) const;
  std::string DisplayText(Direction direction, bool repairLineEnds) const;
  // Appends this record's block of a page text: its captured bytes (malformed UTF-8 shown as
  // "?"), the omission note and the separator naming it.
  void AppendPageBlock(Direction direction, std::string& out) const;
  // Both may throw std::bad_alloc.
  ConversationRecord CopyRecord() const;
  ExchangeSummary Summary() const;

  // Tells the store's notifier of exhausted memory; nobody once the store is gone. Never called
  // with a store lock held.
  void ReportFatal(const std::string& text) const;

 private:
  // Runs a rendering for callers outside the store; exhausted memory is reported and gives "".
  template <typename Render>
  std::string RenderOrReport(Render render) const;

  friend class ConversationStore;

  struct Side {
    std::string data;
    int64_t total = 0;
    Utf8Carry carry;
    // data's size where the first read whose text stopped short ended; -1 while none has.
    int64_t cutAt = -1;
  };

  // The captured bytes up to the first cut (all of them when there is none).
  static std::string_view UnbrokenPrefix(const Side& side);
  void AddData(Direction direction, const char* data, int32_t seen, int32_t count);
  const Side& SideOf(Direction direction) const;
  Side& SideOf(Direction direction);
  // Called by the store as it removes the record: frees the buffers and makes every later
  // rendering read as gone.
  void Release();

  const int32_t id;
  ConversationStore& store;
  const std::shared_ptr<const NotifierSlot> notifier;
  const int64_t startMilliseconds;
  const platform::LocalDateTime startTime;
  const std::string origin;

  // Read by the store's walks without this record's lock; set once by the owning thread.
  std::atomic<bool> complete{false};

  // guarded by the store's listLock: written to the logs in the pass now running
  bool logged = false;
  // guarded by the store's heldLock: this record's bytes that heldBytes includes
  int64_t heldCount = 0;

  // Taken after the store's listLock and before its heldLock. Keeps an append (which may move a
  // buffer) and a rendering of this record from overlapping.
  mutable std::mutex lock;
  Side response;                         // guarded by lock
  Side request;                          // guarded by lock
  platform::LocalDateTime lastDataTime;  // guarded by lock
  uint32_t startTick = 0;                // guarded by lock
  uint32_t connectStartTick = 0;         // guarded by lock
  uint32_t connectedTick = 0;            // guarded by lock
  uint32_t firstResponseTick = 0;        // guarded by lock; valid once responseStarted
  bool responseStarted = false;          // guarded by lock
  uint32_t lastTick = 0;                 // guarded by lock
  bool released = false;                 // guarded by lock
};

}  // namespace rw::capture
