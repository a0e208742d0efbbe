// Turns the front of a fuzz input into a list of read sizes, so that one input is fed to a parser
// as several reads the way a socket would deliver it. Used only by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace rw::fuzz {

struct ReadStep {
  size_t size = 1;
  bool mark = false;  // the target decides what a marked read means (e.g. a new request first)
};

class ReadSplitter {
 public:
  // The first byte's low 3 bits say how many size bytes follow (0: one read of everything); its
  // high bits are left to the target as flags. Each size byte gives 1-128 bytes and a mark bit.
  ReadSplitter(const uint8_t* data, size_t size) {
    if (size == 0) {
      return;
    }
    flags_ = data[0] >> 3;
    size_t count = data[0] & 7;
    size_t at = 1;
    for (; at < size && steps_.size() < count; ++at) {
      steps_.push_back({static_cast<size_t>(data[at] & 0x7F) + 1, (data[at] & 0x80) != 0});
    }
    rest_ = std::string_view(reinterpret_cast<const char*>(data) + at, size - at);
  }

  uint8_t Flags() const { return flags_; }
  std::string_view All() const { return rest_; }
  bool Done() const { return offset_ >= rest_.size(); }

  // The next read; the sizes repeat in turn until the input is used up.
  std::string_view Next(bool* mark) {
    ReadStep step{rest_.size(), false};
    if (!steps_.empty()) {
      step = steps_[next_++ % steps_.size()];
    }
    *mark = step.mark;
    std::string_view read = rest_.substr(offset_, step.size);
    offset_ += read.size();
    return read;
  }

 private:
  std::vector<ReadStep> steps_;
  std::string_view rest_;
  size_t offset_ = 0;
  size_t next_ = 0;
  uint8_t flags_ = 0;
};

}  // namespace rw::fuzz
