#include "capture/conversation_side.h"

#include <new>

#include "capture/conversation_store.h"
#include "capture/text_rendering.h"

namespace rw::capture {

ConversationSide::ConversationSide(int32_t kind, const std::shared_ptr<Conversation>& conversation)
    : kind(kind), conversation(conversation) {}

ConversationSide::~ConversationSide() = default;

Direction ConversationSide::Side() const {
  return kind == kRequestSide ? Direction::kRequest : Direction::kResponse;
}

std::shared_ptr<Conversation> ConversationSide::Get() const {
  std::shared_ptr<Conversation> held = conversation.lock();
  if (held != nullptr && held->IsReleased()) {
    return nullptr;
  }
  return held;
}

std::string ConversationSide::FirstLine() const {
  const std::shared_ptr<Conversation> held = conversation.lock();
  if (held == nullptr) {
    return {};
  }
  try {
    return held->FirstLine(Side());
  } catch (const std::bad_alloc&) {
    held->Store().ReportFatal("Error in ConvertArrayToString");
    return {};
  }
}

std::string ConversationSide::FullText(bool repairLineEnds) const {
  const std::shared_ptr<Conversation> held = conversation.lock();
  if (held == nullptr) {
    return std::string(kDataGoneText);
  }
  try {
    return held->DisplayText(Side(), repairLineEnds);
  } catch (const std::bad_alloc&) {
    held->Store().ReportFatal("Error in ConvertArrayToString");
    return {};
  }
}

}  // namespace rw::capture
