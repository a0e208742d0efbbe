#include "proxy/header_end_scanner.h"

namespace rw::proxy {

size_t HeaderEndLength(std::string_view bytes) {
  int counter = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\n') {
      if (++counter > 1) {
        return i + 1;
      }
    } else if (c != '\r') {
      counter = 0;
    }
  }
  return 0;
}

bool HeaderEndScanner::Found(const ByteBuffer& buffer) {
  if (buffer.ConsumedTotal() != consumedMark_ || buffer.Size() < scanned_) {
    Reset();
    consumedMark_ = buffer.ConsumedTotal();
  }
  if (found_) {
    return true;
  }
  std::string_view bytes = buffer.View();
  for (; scanned_ < bytes.size(); ++scanned_) {
    char c = bytes[scanned_];
    if (c == '\n') {
      if (++counter_ > 1) {
        found_ = true;
        ++scanned_;
        return true;
      }
    } else if (c != '\r') {
      counter_ = 0;
    }
  }
  return false;
}

void HeaderEndScanner::Reset() {
  scanned_ = 0;
  counter_ = 0;
  found_ = false;
}

}  // namespace rw::proxy
