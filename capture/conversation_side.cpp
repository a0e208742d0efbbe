#include "capture/conversation_side.h"

#include <new>

#include "capture/conversation_store.h"
#include "capture/text_rendering.h"

namespace rw::capture {

ConversationSide::ConversationSide(Direction direction, const std::shared_ptr<Conversation>& owner)
    : side(direction), conversation(owner) {}

ConversationSide::~ConversationSide() = default;

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
    return held->FirstLine(side);
  } catch (const std::bad_alloc&) {
    held->ReportFatal("Error in ConvertArrayToString");
    return {};
  }
}

std::string ConversationSide::FullText(bool repairLineEnds) const {
  const std::shared_ptr<Conversation> held = conversation.lock();
  if (held == nullptr) {
    return std::string(kDataGoneText);
  }
  try {
    return held->DisplayText(side, repairLineEnds);
  } catch (const std::bad_alloc&) {
    held->ReportFatal("Error in ConvertArrayToString");
    return {};
  }
}

}  // namespace rw::capture
