#include "proxy/byte_buffer.h"

#include <algorithm>

namespace rw::proxy {

void ByteBuffer::Append(const char* data, size_t count) {
  if (count == 0) {
    return;
  }
  if (readOffset_ > 0 && storage_.size() + count > storage_.capacity()) {
    // Reclaim the consumed front before growing; each byte moves at most once per growth.
    storage_.erase(storage_.begin(), storage_.begin() + static_cast<ptrdiff_t>(readOffset_));
    readOffset_ = 0;
  }
  storage_.insert(storage_.end(), data, data + count);
}

void ByteBuffer::Consume(size_t count) {
  count = std::min(count, Size());
  consumedTotal_ += count;
  readOffset_ += count;
  if (readOffset_ == storage_.size()) {
    storage_.clear();
    readOffset_ = 0;
  }
}

void ByteBuffer::Clear() { Consume(Size()); }

}  // namespace rw::proxy
