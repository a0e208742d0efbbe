// Text steps on HTTP headers shared by requests and responses: split into lines, tokenise, join,
// terminate. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "proxy/byte_buffer.h"
#include "proxy/response_header_info.h"

namespace rw::proxy {

// Each line keeps its own line end; the last line also keeps the blank line ending the header.
using LineList = std::vector<std::string>;

// Accept-Encoding lines offering gzip: dropped, so that servers answer with text the capture can
// read, or kept as they are. The first line (request or status line) is never dropped.
enum class GzipOffers { kDrop, kKeep };

// When `buffer` holds a complete header (same end as HeaderEndLength), fills `lines` with its
// lines, removes the header bytes from the buffer and returns true; bytes after the header stay.
// Returns false and leaves `lines` empty when the header is not complete.
[[nodiscard]] bool SplitRequestHeader(ByteBuffer& buffer, GzipOffers gzipOffers, LineList& lines);

// The same for a response header, whose gzip offers are dropped too; `info` is zeroed, every
// line (lower-cased) is examined and the class completed.
[[nodiscard]] bool SplitResponseHeader(ByteBuffer& buffer, LineList& lines,
                                       ResponseHeaderInfo& info);

// Removes every header line named `lowerName` (never the first line). The header's end is added
// when the lines are joined and terminated, so removing the last line loses nothing.
void RemoveLinesNamed(LineList& lines, std::string_view lowerName);

// A decoded body is sent with its length: the first line named Transfer-Encoding becomes a
// Content-Length line, and further codings and a Content-Length the server sent beside them
// (which the coding overrides) go, so the browser sees one framing only. The header's end is
// added when the lines are joined, so a replaced or removed last line loses nothing.
void LengthInsteadOfCoding(LineList& lines, size_t length);

std::string JoinLines(const LineList& lines);

// Removes trailing CR/LF (never the first character) and appends CR LF CR LF; empty stays empty.
void TerminateHeaderText(std::string& text);

}  // namespace rw::proxy
