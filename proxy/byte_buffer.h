// A growable byte array appended at the end and consumed from the front. Consuming moves a read
// offset instead of copying the rest; the storage is compacted only when an append needs room.
// Owned and used by one connection thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace rw::proxy {

class ByteBuffer {
 public:
  const char* Data() const { return storage_.data() + readOffset_; }
  size_t Size() const { return storage_.size() - readOffset_; }
  bool Empty() const { return Size() == 0; }
  std::string_view View() const { return std::string_view(Data(), Size()); }

  void Append(const char* data, size_t count);
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  // Removes `count` bytes (at most Size()) from the front.
  void Consume(size_t count);
  void Clear();
  // Total bytes ever removed from the front; lets an incremental scanner notice that what it
  // scanned is gone.
  uint64_t ConsumedTotal() const { return consumedTotal_; }

 private:
  std::vector<char> storage_;
  size_t readOffset_ = 0;
  uint64_t consumedTotal_ = 0;
};

}  // namespace rw::proxy
