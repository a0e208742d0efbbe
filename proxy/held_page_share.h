// One connection's share of the held page budget: the bytes of the text page it holds back now.
// Owned and used by one connection thread; gives its share back when destroyed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "proxy/held_page_budget.h"

namespace rw::proxy {

class HeldPageShare {
 public:
  explicit HeldPageShare(HeldPageBudget& sharedBudget) : budget(sharedBudget) {}
  ~HeldPageShare() { Release(); }
  HeldPageShare(const HeldPageShare&) = delete;
  HeldPageShare& operator=(const HeldPageShare&) = delete;

  // Makes the share `bytes`; false when that would pass the budget (the share is unchanged).
  bool TryHold(size_t bytes);
  void Release() { TryHold(0); }
  size_t Bytes() const { return static_cast<size_t>(bytes); }

 private:
  HeldPageBudget& budget;
  int64_t bytes = 0;
};

}  // namespace rw::proxy
