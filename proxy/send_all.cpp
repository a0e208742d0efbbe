#include "proxy/send_all.h"

#include <algorithm>

namespace rw::proxy {

size_t SendAllInPortions(std::string_view bytes, size_t portion, const SendStep& sendStep) {
  size_t sent = 0;
  portion = std::max<size_t>(portion, 1);
  while (sent < bytes.size()) {
    size_t count = std::min(portion, bytes.size() - sent);
    ssize_t result = sendStep(bytes.data() + sent, count);
    if (result <= 0) {
      break;
    }
    sent += static_cast<size_t>(result);
  }
  return sent;
}

}  // namespace rw::proxy
