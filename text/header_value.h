// Reading one header line: the value of a field by name, and whether a Transfer-Encoding value
// frames its body in chunks. Free functions; any thread.
#pragma once

#include <optional>
#include <string_view>

namespace rw::text {

// The value of `line` when it is the field `name` (ASCII case ignored, the colon right after the
// name), without the blanks, tabs and line ends around it; nullopt for any other line. Only a
// line of that name counts: "Access-Control-Expose-Headers: Content-Length" is no length.
std::optional<std::string_view> HeaderLineValue(std::string_view line, std::string_view name);

// Whether a Transfer-Encoding value ("gzip, chunked") ends with chunked: only then is the body
// framed in chunks; under any other last coding it runs until the connection closes.
bool LastCodingIsChunked(std::string_view codings);

}  // namespace rw::text
