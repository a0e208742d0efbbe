#include "proxy/held_page_share.h"

namespace rw::proxy {

bool HeldPageShare::TryHold(size_t newBytes) {
  const auto wanted = static_cast<int64_t>(newBytes);
  if (wanted == bytes) {
    return true;
  }
  if (!budget.Change(bytes, wanted)) {
    return false;
  }
  bytes = wanted;
  return true;
}

}  // namespace rw::proxy
