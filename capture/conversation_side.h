// A handle on the request or the response side of one conversation, one per Detail page row.
// User-interface thread. It does not keep the conversation alive: once the store has removed the
// conversation, the handle reads it as gone and never touches its data.
#pragma once

#include <memory>
#include <string>

#include "capture/conversation.h"

namespace rw::capture {

class ConversationSide {
 public:
  ConversationSide(Direction side, const std::shared_ptr<Conversation>& conversation);
  virtual ~ConversationSide();

  Direction Side() const { return side; }
  // The conversation while the store still holds it; nullptr once it is gone.
  std::shared_ptr<Conversation> Get() const;

  // Empty once the conversation is gone.
  std::string FirstLine() const;
  // The data-gone text once the conversation is gone. Exhausted memory is reported through the
  // store's notifier (nobody once the store itself is gone), so neither is called with a store
  // lock held.
  std::string FullText(bool repairLineEnds) const;

 private:
  Direction side;
  std::weak_ptr<Conversation> conversation;
};

}  // namespace rw::capture
