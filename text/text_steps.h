// Pure text steps shared by the capture, the engine's request and response parsing and the
// settings: white space, tokens and methods. Free functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rw::text {

// Blank, tab, line feed, carriage return, vertical tab or form feed.
bool IsSpace(char c);

// The text without leading and trailing white space.
std::string Trim(std::string_view text);

// The text without leading and trailing blanks and tabs: the white space HTTP allows around a
// header field's value and between the parts of a field.
std::string_view TrimBlanks(std::string_view text);

// Maximal runs of non-separator characters; the walk stops at the first NUL or line feed.
std::vector<std::string> Tokenise(std::string_view text, std::string_view separators);

// Whether `word` reads as a request method: capital letters, "-" and "_", at most 32 of them.
// Bytes a tunnel carries on with after its first exchange are no request.
bool IsMethod(std::string_view word);

}  // namespace rw::text
