#include "proxy/held_page_budget.h"

#include <algorithm>

namespace rw::proxy {

int64_t HeldPageBudget::Budget() const {
  return std::max(2 * store.LimitBytes(), floor);
}

bool HeldPageBudget::Change(int64_t from, int64_t to) {
  const int64_t growth = to - from;
  if (growth <= 0) {
    held.fetch_add(growth, std::memory_order_relaxed);
    return true;
  }
  // Added first and taken back when over, so that two connections growing at once cannot both
  // pass the check.
  const int64_t after = held.fetch_add(growth, std::memory_order_relaxed) + growth;
  if (after > Budget()) {
    held.fetch_sub(growth, std::memory_order_relaxed);
    return false;
  }
  return true;
}

}  // namespace rw::proxy
