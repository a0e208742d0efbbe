// What a response header says about its body: content class, length and transfer coding, read
// line by line while the header is split. Pure; owned by one connection's response handling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rw::proxy {

// Content class flags.
inline constexpr uint16_t kClassHtml = 1;
inline constexpr uint16_t kClassScript = 2;
inline constexpr uint16_t kClassOther = 4;  // streamed
inline constexpr uint16_t kClassText = 8;   // held until complete

struct ResponseHeaderInfo {
  uint16_t contentClass = 0;
  int64_t contentLength = -1;  // -1 = unknown
  bool chunked = false;
  bool otherCodings = false;  // a transfer coding besides chunked: the body streams unchanged

  // `lowerLine` is one header line, lower-cased, with its line end.
  void ExamineLine(std::string_view lowerLine);
  // After the last line: no content type means HTML; HTML and script are held as text.
  void CompleteClass();
};

}  // namespace rw::proxy
