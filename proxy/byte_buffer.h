// A growable byte array appended at the end and consumed from the front. Consuming moves a read
// offset instead of copying the rest; the storage is compacted only when an append needs room.
// Reads from a socket can land directly in its free tail. Owned and used by one connection thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace rw::proxy {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  const char* Data() const { return storage.get() + begin; }
  size_t Size() const { return end - begin; }
  bool Empty() const { return end == begin; }
  std::string_view View() const { return std::string_view(Data(), Size()); }

  // For rearranging bytes in place; the size does not change.
  char* MutableData() { return storage.get() + begin; }

  void Append(const char* data, size_t count);
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  // Room for at least `count` more bytes at the end, to be filled and then committed.
  char* PrepareAppend(size_t count);
  // Makes `count` bytes written after PrepareAppend part of the buffer.
  void CommitAppend(size_t count) { end += count; }
  // Removes `count` bytes (at most Size()) from the front.
  void Consume(size_t count);
  void Clear() { Consume(Size()); }
  // Removes `count` bytes starting `offset` bytes from the front; the bytes after them move up.
  void Erase(size_t offset, size_t count);
  // Gives the storage back when the buffer is empty; an idle connection then holds none.
  void Release();
  size_t Capacity() const { return capacity; }
  // Total bytes ever removed from the front; lets an incremental scanner notice that what it
  // scanned is gone.
  uint64_t ConsumedTotal() const { return consumedTotal; }

 private:
  std::unique_ptr<char[]> storage;
  size_t capacity = 0;
  size_t begin = 0;
  size_t end = 0;
  uint64_t consumedTotal = 0;
};

}  // namespace rw::proxy
