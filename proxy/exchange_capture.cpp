#include "proxy/exchange_capture.h"

namespace rw::proxy {

void ExchangeCapture::Start() {
  conversation = std::make_shared<capture::Conversation>(context.NextConversationId(),
                                                         context.Store(), origin);
  context.Store().AddConversation(conversation);
  context.Store().IncrementConversationCount();
}

void ExchangeCapture::Ensure() {
  if (!conversation) {
    Start();
  }
}

void ExchangeCapture::End() {
  if (conversation) {
    conversation->MarkEnd();
    // Once complete, the user-interface thread may log or free it: not touched again.
    conversation->MarkComplete();
    conversation.reset();
  }
}

void ExchangeCapture::Note(std::string_view note) {
  Start();
  conversation->MarkConnectStart();
  conversation->MarkConnected();
  conversation->AddResponseData(note.data(), static_cast<int32_t>(note.size()));
  End();
}

}  // namespace rw::proxy
