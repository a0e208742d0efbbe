// Writes a byte range in portions of at most the connection's send size. Pure apart from the send
// step it is given; used by connection threads.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string_view>

namespace rw::proxy {

// One send of at most the given count; returns what was sent, 0 or less on failure.
using SendStep = std::function<ssize_t(const char* data, size_t count)>;

// Sends from the front until all is sent or a step fails; returns the count sent.
size_t SendAllInPortions(std::string_view bytes, size_t portion, const SendStep& sendStep);

}  // namespace rw::proxy
