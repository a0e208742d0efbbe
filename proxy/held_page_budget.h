// The bytes of text pages that all connections hold back at once, kept within one budget: twice
// the store's memory limit, and never less than a floor. Shared by every connection thread
// through EngineContext; each connection changes only its own share (HeldPageShare).
#pragma once

#include <atomic>
#include <cstdint>

#include "capture/conversation_store.h"

namespace rw::proxy {

class HeldPageBudget {
 public:
  HeldPageBudget(const capture::ConversationStore& conversations, int64_t lowestBudget)
      : store(conversations), floor(lowestBudget) {}

  // Moves one share from `from` to `to` bytes. A share that would grow past the budget is left
  // as it was and false is returned; shrinking always succeeds.
  bool Change(int64_t from, int64_t to);
  int64_t Held() const { return held.load(std::memory_order_relaxed); }
  int64_t Budget() const;

 private:
  const capture::ConversationStore& store;
  const int64_t floor;
  // Changed by every connection that holds a page, without a lock: only the sum matters.
  std::atomic<int64_t> held{0};
};

}  // namespace rw::proxy
