#include "platform/error_text.h"

#include <cstring>

namespace rw::platform {

std::string ErrorText(int errorNumber) {
  char buffer[256] = {};
  // The GNU strerror_r returns the text, which may or may not live in `buffer`.
  const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : "error " + std::to_string(errorNumber);
}

}  // namespace rw::platform
