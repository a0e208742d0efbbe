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

// When `buffer` holds a complete header (same end as HeaderEndLength), fills `lines` with its
// lines, removes the header bytes from the buffer and returns true; bytes after the header stay.
// Header lines offering gzip ("accept-encoding:" and "gzip") are left out when `dropGzipLines`;
// the first line (request or status line) never is. With
// `info`, its class is zeroed, every line (lower-cased) is examined and the class completed.
// Returns false and leaves `lines` empty when the header is not complete.
bool SplitHeader(ByteBuffer& buffer, bool dropGzipLines, LineList& lines, ResponseHeaderInfo* info);

// Maximal runs of non-separator characters; the walk stops at the first NUL or line feed.
std::vector<std::string> Tokenise(std::string_view text, std::string_view separators);

std::string JoinLines(const LineList& lines);

// Removes trailing CR/LF (never the first character) and appends CR LF CR LF; empty stays empty.
void TerminateHeaderText(std::string& text);

}  // namespace rw::proxy
