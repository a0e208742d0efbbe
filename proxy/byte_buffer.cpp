#include "proxy/byte_buffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace rw::proxy {

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : storage(std::move(other.storage)),
      capacity(std::exchange(other.capacity, 0)),
      begin(std::exchange(other.begin, 0)),
      end(std::exchange(other.end, 0)),
      consumedTotal(std::exchange(other.consumedTotal, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    storage = std::move(other.storage);
    capacity = std::exchange(other.capacity, 0);
    begin = std::exchange(other.begin, 0);
    end = std::exchange(other.end, 0);
    // A different byte sequence now: scanners keyed on this count must start over.
    consumedTotal += std::exchange(other.consumedTotal, 0) + 1;
  }
  return *this;
}

char* ByteBuffer::PrepareAppend(size_t count) {
  if (capacity - end >= count) {
    return storage.get() + end;
  }
  size_t size = Size();
  if (begin > 0 && capacity - size >= count && size <= capacity / 2) {
    // Enough room once the consumed front is reclaimed, and at most half the storage moves.
    std::memmove(storage.get(), storage.get() + begin, size);
  } else {
    const size_t grownCapacity = std::max({capacity * 2, size + count, size_t{256}});
    auto grown = std::make_unique_for_overwrite<char[]>(grownCapacity);
    if (size > 0) {
      std::memcpy(grown.get(), storage.get() + begin, size);
    }
    storage = std::move(grown);
    capacity = grownCapacity;
  }
  begin = 0;
  end = size;
  return storage.get() + end;
}

void ByteBuffer::Append(const char* data, size_t count) {
  if (count == 0) {
    return;
  }
  std::memcpy(PrepareAppend(count), data, count);
  end += count;
}

void ByteBuffer::Consume(size_t count) {
  count = std::min(count, Size());
  consumedTotal += count;
  begin += count;
  if (begin == end) {
    begin = 0;
    end = 0;
  }
}

void ByteBuffer::Erase(size_t offset, size_t count) {
  size_t size = Size();
  offset = std::min(offset, size);
  count = std::min(count, size - offset);
  if (count == 0) {
    return;
  }
  char* data = storage.get() + begin;
  std::memmove(data + offset, data + offset + count, size - offset - count);
  end -= count;
  // A different byte sequence from `offset` on: scanners keyed on this count must start over.
  ++consumedTotal;
}

void ByteBuffer::Release() {
  if (Empty()) {
    storage.reset();
    capacity = 0;
    begin = 0;
    end = 0;
  }
}

}  // namespace rw::proxy
