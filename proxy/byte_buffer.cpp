#include "proxy/byte_buffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace rw::proxy {

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : storage_(std::move(other.storage_)),
      capacity_(std::exchange(other.capacity_, 0)),
      begin_(std::exchange(other.begin_, 0)),
      end_(std::exchange(other.end_, 0)),
      consumedTotal_(std::exchange(other.consumedTotal_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    storage_ = std::move(other.storage_);
    capacity_ = std::exchange(other.capacity_, 0);
    begin_ = std::exchange(other.begin_, 0);
    end_ = std::exchange(other.end_, 0);
    // A different byte sequence now: scanners keyed on this count must start over.
    consumedTotal_ += std::exchange(other.consumedTotal_, 0) + 1;
  }
  return *this;
}

char* ByteBuffer::PrepareAppend(size_t count) {
  if (capacity_ - end_ >= count) {
    return storage_.get() + end_;
  }
  size_t size = Size();
  if (begin_ > 0 && capacity_ - size >= count && size <= capacity_ / 2) {
    // Enough room once the consumed front is reclaimed, and at most half the storage moves.
    std::memmove(storage_.get(), storage_.get() + begin_, size);
  } else {
    size_t capacity = std::max({capacity_ * 2, size + count, size_t{256}});
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (size > 0) {
      std::memcpy(grown.get(), storage_.get() + begin_, size);
    }
    storage_ = std::move(grown);
    capacity_ = capacity;
  }
  begin_ = 0;
  end_ = size;
  return storage_.get() + end_;
}

void ByteBuffer::Append(const char* data, size_t count) {
  if (count == 0) {
    return;
  }
  std::memcpy(PrepareAppend(count), data, count);
  end_ += count;
}

void ByteBuffer::Consume(size_t count) {
  count = std::min(count, Size());
  consumedTotal_ += count;
  begin_ += count;
  if (begin_ == end_) {
    begin_ = 0;
    end_ = 0;
  }
}

void ByteBuffer::Erase(size_t offset, size_t count) {
  size_t size = Size();
  offset = std::min(offset, size);
  count = std::min(count, size - offset);
  if (count == 0) {
    return;
  }
  char* data = storage_.get() + begin_;
  std::memmove(data + offset, data + offset + count, size - offset - count);
  end_ -= count;
  // A different byte sequence from `offset` on: scanners keyed on this count must start over.
  ++consumedTotal_;
}

void ByteBuffer::Release() {
  if (Empty()) {
    storage_.reset();
    capacity_ = 0;
    begin_ = 0;
    end_ = 0;
  }
}

}  // namespace rw::proxy
