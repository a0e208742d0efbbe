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
  if (buffer.ConsumedTotal() != consumedMark || buffer.Size() < scanned) {
    Reset();
    consumedMark = buffer.ConsumedTotal();
  }
  if (found) {
    return true;
  }
  std::string_view bytes = buffer.View();
  for (; scanned < bytes.size(); ++scanned) {
    char c = bytes[scanned];
    if (c == '\n') {
      if (++counter > 1) {
        found = true;
        ++scanned;
        return true;
      }
    } else if (c != '\r') {
      counter = 0;
    }
  }
  return false;
}

void HeaderEndScanner::Reset() {
  scanned = 0;
  counter = 0;
  found = false;
}

}  // namespace rw::proxy
