// The conversation of the exchange under way on one browser connection: started when its first
// bytes come, ended with its response, then handed to the store's other users. Owned and used by
// one connection thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "capture/conversation.h"
#include "proxy/engine_context.h"

namespace rw::proxy {

class ExchangeCapture {
 public:
  explicit ExchangeCapture(EngineContext& engine) : context(engine) {}

  // A new conversation, added to the store.
  void Start();
  // Bytes after an ended exchange begin the next one: its conversation starts with them.
  void Ensure();
  void End();
  // One conversation with only a note from the proxy as its response (nothing was exchanged).
  void Note(std::string_view note);
  // The conversation under way; Ensure() first when there may be none.
  capture::Conversation& Current() { return *conversation; }
  bool Open() const { return conversation != nullptr; }
  // Names the exchanges that follow: "https://host[:port]" inside inspected TLS.
  void SetOrigin(std::string newOrigin) { this->origin = std::move(newOrigin); }

 private:
  EngineContext& context;
  std::shared_ptr<capture::Conversation> conversation;
  std::string origin;
};

}  // namespace rw::proxy
