// Compares that ignore the case of ASCII letters, as HTTP names, methods, schemes and codings are
// compared; every other byte must match exactly. Free functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rw::text {

// ASCII letters lowered; every other byte unchanged.
std::string ToLower(std::string_view text);

bool EqualsIgnoringCase(std::string_view a, std::string_view b);

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

// Where `part` first occurs in `text`, or npos.
size_t FindIgnoringCase(std::string_view text, std::string_view part);

bool ContainsIgnoringCase(std::string_view text, std::string_view part);

}  // namespace rw::text
