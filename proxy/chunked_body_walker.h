// Follows the chunked framing of a body that is forwarded unchanged, to find where it ends: the
// last chunk and its trailers. Reads each byte once and copies nothing. Pure; owned by one
// connection thread (request bodies and streamed responses alike).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rw::proxy {

class ChunkedBodyWalker {
 public:
  // At the size line of the first chunk.
  void Start();
  // Just after a chunk's data, at the line end that closes it.
  void StartAfterData();

  // How many bytes from the front of `bytes` belong to the body; fewer than all only when the body
  // ended inside them. Bytes that are not chunked framing make the rest unreadable: they are all
  // taken, and the body then has no known end.
  size_t Take(std::string_view bytes);
  // `count` data bytes went by unseen; at most DataLeft().
  void SkipData(uint64_t count);

  // Data bytes of the current chunk still to come: they may pass without being looked at. 0 while
  // framing is expected.
  uint64_t DataLeft() const { return step == Step::kData ? remaining : 0; }
  bool Done() const { return step == Step::kDone; }
  bool Unreadable() const { return step == Step::kUnreadable; }

 private:
  enum class Step { kSize, kExtension, kData, kDataEnd, kTrailer, kDone, kUnreadable };

  // One byte where a chunk size is expected; false when it was not taken (the step changed).
  bool TakeSizeDigit(char c);
  void TakeTrailerByte(char c);

  Step step = Step::kDone;
  uint64_t remaining = 0;        // kSize: the size read so far; kData: data bytes left
  bool sizeDigits = false;       // kSize: a hex digit has been seen
  bool trailerLineText = false;  // kTrailer: the current line has more than line-end bytes
};

}  // namespace rw::proxy
