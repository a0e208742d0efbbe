// A byte buffer holding the given bytes, for tests of the steps that read one.
#pragma once

#include <string_view>

#include "proxy/byte_buffer.h"

namespace rw::testing {

inline proxy::ByteBuffer BufferOf(std::string_view bytes) {
  proxy::ByteBuffer buffer;
  buffer.Append(bytes);
  return buffer;
}

}  // namespace rw::testing
