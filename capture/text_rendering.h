// Pure text helpers shared by the conversation renderings, the page texts and the log writer.
// No locks, any thread. They may throw std::bad_alloc; their callers catch and report it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rw::capture {

// What a rendering of a conversation that the store has already released gives.
inline constexpr std::string_view kDataGoneText = "\r\nData no longer in Relaywatch Buffers.\r\n";

// The bytes for display: with `repairLineEnds`, a line feed not preceded by a carriage return
// gets one; a final CR LF is added unless the buffer is empty.
std::string ConvertArrayToDisplayText(std::string_view bytes, bool repairLineEnds);

// Seconds with three decimals: 0 -> "0.000", 61234 -> "61.234". Negative counts show as 0.
std::string FormatMilliseconds(int32_t milliseconds);

// The text up to its first "\n", then up to its first "\r", where each lies past position 0.
std::string FirstLineOf(std::string_view bytes);

// "\r\n(N bytes not shown)\r\n" when `captured` is less than `total`, else nothing.
void AppendOmissionNote(std::string& out, int64_t captured, int64_t total);

}  // namespace rw::capture
