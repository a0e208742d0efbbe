#include "capture/conversation.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

#include "capture/conversation_store.h"
#include "capture/text_rendering.h"
#include "platform/ticks.h"
#include "text/utf8.h"

namespace rw::capture {

Conversation::Conversation(int32_t conversationId, ConversationStore& owner,
                           std::string exchangeOrigin)
    : id(conversationId),
      store(owner),
      notifier(owner.SharedNotifier()),
      startMilliseconds(platform::NowWallMilliseconds()),
      startTime{startMilliseconds / 1000},
      origin(std::move(exchangeOrigin)),
      lastDataTime(startTime) {
  startTick = platform::NowTicks();
  connectStartTick = platform::NowTicks();
  connectedTick = platform::NowTicks();
  lastTick = platform::NowTicks();
}

Conversation::~Conversation() = default;

const Conversation::Side& Conversation::SideOf(Direction direction) const {
  return direction == Direction::kRequest ? request : response;
}

Conversation::Side& Conversation::SideOf(Direction direction) {
  return direction == Direction::kRequest ? request : response;
}

void Conversation::AddRequestData(const char* data, int32_t count) {
  AddData(Direction::kRequest, data, count, count);
}

void Conversation::AddResponseData(const char* data, int32_t count) {
  AddData(Direction::kResponse, data, count, count);
}

void Conversation::AddResponseDataSeen(const char* data, int32_t seen, int32_t count) {
  AddData(Direction::kResponse, data, std::clamp(seen, 0, count), count);
}

void Conversation::AddData(Direction direction, const char* data, int32_t seen, int32_t count) {
  if (count < 1 || data == nullptr) {
    return;
  }
  if (direction == Direction::kRequest) {
    store.AddRequestBytes(count);
  } else {
    store.AddResponseBytes(count);
  }
  bool failed = false;
  bool upkeepDue = false;
  {
    std::lock_guard guard(lock);
    Side& side = SideOf(direction);
    if (direction == Direction::kResponse && !responseStarted) {
      // When the server began to answer: splits the exchange's time into waiting and receiving.
      responseStarted = true;
      firstResponseTick = platform::NowTicks();
    }
    side.total += count;
    const auto size = static_cast<int64_t>(side.data.size());
    // A full buffer stores nothing more, so the chunk need not be scanned at all. A released
    // record takes no more bytes: they would be counted in heldBytes forever.
    if (size >= kMaxCaptured || released) {
      return;
    }
    // Only the bytes that fit are looked at: what lies beyond could never be stored.
    const int64_t room = kMaxCaptured - size;
    const auto scanned = static_cast<int32_t>(std::min<int64_t>(seen, room));
    const int32_t textLength = Utf8TextPrefixLength(data, scanned, side.carry);
    if (textLength < scanned && side.cutAt < 0) {
      side.cutAt = size + std::max(textLength, 0);
    }
    if (textLength < 1) {
      return;
    }
    const int64_t stored = std::min<int64_t>(textLength, room);
    try {
      side.data.append(data, static_cast<size_t>(stored));
      upkeepDue = store.AddHeldBytes(*this, stored);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    lastDataTime = platform::NowLocal();
  }
  if (failed) {
    ReportFatal(direction == Direction::kRequest ? "Error in AddRequestData"
                                                 : "Error in AddResponseData");
  }
  if (upkeepDue) {
    store.RequestUpkeep();
  }
}

void Conversation::MarkConnectStart() {
  std::lock_guard guard(lock);
  connectStartTick = platform::NowTicks();
  connectedTick = connectStartTick;
  lastTick = connectStartTick;
}

void Conversation::MarkConnected() {
  std::lock_guard guard(lock);
  connectedTick = platform::NowTicks();
  lastTick = connectedTick;
}

void Conversation::MarkEnd() {
  std::lock_guard guard(lock);
  lastTick = platform::NowTicks();
}

void Conversation::MarkComplete() {
  if (complete.load(std::memory_order_acquire)) {
    return;
  }
  // Before the flag: once it is set the user-interface thread may log and free the record.
  store.ExchangeCompleted(*this);
  complete.store(true, std::memory_order_release);
}

int32_t Conversation::GetId() const {
  return id;
}

bool Conversation::IsComplete() const {
  return complete.load(std::memory_order_acquire);
}

int64_t Conversation::ResponseDataSize() const {
  std::lock_guard guard(lock);
  return static_cast<int64_t>(response.data.size());
}

int64_t Conversation::RequestDataSize() const {
  std::lock_guard guard(lock);
  return static_cast<int64_t>(request.data.size());
}

int64_t Conversation::RequestTotal() const {
  std::lock_guard guard(lock);
  return request.total;
}

int64_t Conversation::ResponseTotal() const {
  std::lock_guard guard(lock);
  return response.total;
}

platform::LocalDateTime Conversation::StartTime() const {
  return startTime;
}

bool Conversation::IsReleased() const {
  std::lock_guard guard(lock);
  return released;
}

std::string Conversation::ConnectTimeText() const {
  std::lock_guard guard(lock);
  return FormatMilliseconds(platform::TickDifference(connectedTick, connectStartTick));
}

std::string Conversation::RetrieveTimeText() const {
  std::lock_guard guard(lock);
  return FormatMilliseconds(platform::TickDifference(lastTick, connectedTick));
}

std::string Conversation::TotalTimeText() const {
  std::lock_guard guard(lock);
  return FormatMilliseconds(platform::TickDifference(lastTick, startTick));
}

void Conversation::ReportFatal(const std::string& text) const {
  if (CaptureNotifier* target = notifier->Get()) {
    target->FatalError(text);
  }
}

template <typename Render>
std::string Conversation::RenderOrReport(Render render) const {
  try {
    return render();
  } catch (const std::bad_alloc&) {
    ReportFatal("Error in ConvertArrayToString");
    return {};
  }
}

std::string Conversation::RequestFirstLine() const {
  return RenderOrReport([&] { return FirstLine(Direction::kRequest); });
}

std::string Conversation::ResponseFirstLine() const {
  return RenderOrReport([&] { return FirstLine(Direction::kResponse); });
}

std::string Conversation::RequestText() const {
  return RenderOrReport([&] { return FullText(Direction::kRequest); });
}

std::string Conversation::ResponseText() const {
  return RenderOrReport([&] { return FullText(Direction::kResponse); });
}

std::string Conversation::FirstLine(Direction direction) const {
  std::lock_guard guard(lock);
  if (released) {
    return {};
  }
  return FirstLineOf(SideOf(direction).data);
}

std::string Conversation::FullText(Direction direction) const {
  std::lock_guard guard(lock);
  if (released) {
    return std::string(kDataGoneText);
  }
  const Side& side = SideOf(direction);
  std::string text = side.data;
  AppendOmissionNote(text, static_cast<int64_t>(side.data.size()), side.total);
  return text;
}

std::string Conversation::DisplayText(Direction direction, bool repairLineEnds) const {
  std::lock_guard guard(lock);
  if (released) {
    return std::string(kDataGoneText);
  }
  const Side& side = SideOf(direction);
  std::string text = ConvertArrayToDisplayText(side.data, repairLineEnds);
  AppendOmissionNote(text, static_cast<int64_t>(side.data.size()), side.total);
  return text;
}

void Conversation::AppendPageBlock(Direction direction, std::string& out) const {
  std::lock_guard guard(lock);
  if (released) {
    out.append(kDataGoneText);
    return;
  }
  const Side& side = SideOf(direction);
  out.append(text::RoundTripCodePage(side.data));
  AppendOmissionNote(out, static_cast<int64_t>(side.data.size()), side.total);
  const std::string time = platform::FormatLocal(lastDataTime, "%H:%M:%S");
  char separator[96];
  const int n =
      std::snprintf(separator, sizeof separator,
                    "\r\n\r\n--------------- %s (%d) ---------------\r\n\r\n", time.c_str(), id);
  out.append(separator, static_cast<size_t>(n));
}

ConversationRecord Conversation::CopyRecord() const {
  std::lock_guard guard(lock);
  ConversationRecord record;
  record.id = id;
  record.startMilliseconds = startMilliseconds;
  record.origin = origin;
  record.released = released;
  if (!released) {
    record.request = request.data;
    record.response = response.data;
    record.requestCutAt = request.cutAt;
    record.responseCutAt = response.cutAt;
  }
  record.requestTotal = request.total;
  record.responseTotal = response.total;
  record.startTick = startTick;
  record.connectStartTick = connectStartTick;
  record.connectedTick = connectedTick;
  record.lastTick = lastTick;
  record.responseStarted = responseStarted;
  record.firstResponseTick = responseStarted ? firstResponseTick : lastTick;
  return record;
}

std::string_view Conversation::UnbrokenPrefix(const Side& side) {
  const std::string_view data = side.data;
  return side.cutAt >= 0 ? data.substr(0, static_cast<size_t>(side.cutAt)) : data;
}

ExchangeSummary Conversation::Summary() const {
  std::lock_guard guard(lock);
  ExchangeSummary summary;
  summary.id = id;
  summary.startMilliseconds = startMilliseconds;
  summary.origin = origin;
  if (!released) {
    // Only the bytes before a cut are one run of what was sent: a start line read across it
    // would be spliced from several reads.
    summary.requestLine = FirstLineOf(UnbrokenPrefix(request));
    summary.statusLine = FirstLineOf(UnbrokenPrefix(response));
    const std::string_view requestBytes = request.data;
    if (requestBytes.rfind("CONNECT ", 0) == 0) {
      const size_t end = requestBytes.find("\r\n\r\n");
      if (end != std::string_view::npos && requestBytes.compare(end + 4, 5, "HTTP/") == 0) {
        summary.statusLine = FirstLineOf(requestBytes.substr(end + 4));
      }
    }
  }
  summary.requestTotal = request.total;
  summary.responseTotal = response.total;
  summary.totalMilliseconds = platform::TickDifference(lastTick, startTick);
  return summary;
}

void Conversation::Release() {
  std::lock_guard guard(lock);
  released = true;
  // Give the memory back now: the engine or a page may keep the record alive a while longer.
  request.data = std::string();
  response.data = std::string();
}

}  // namespace rw::capture
