#include "headless/exchange_line.h"

#include <cinttypes>
#include <cstdio>

#include "capture/text_rendering.h"
#include "platform/local_time.h"
#include "text/number_parsers.h"
#include "text/text_steps.h"
#include "text/utf8.h"

namespace rw::headless {
namespace {

constexpr size_t kMaxUrlLength = 2000;

// Text safe on one terminal line.
std::string Printable(std::string_view text, size_t limit) {
  std::string out = text::RoundTripCodePage(text.substr(0, limit));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      c = '?';
    }
  }
  if (text.size() > limit) {
    out.append("...");
  }
  return out;
}

std::string_view Word(std::string_view& line) {
  const size_t space = line.find(' ');
  const std::string_view word = line.substr(0, space);
  line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
  return word;
}

std::string StatusCode(std::string_view statusLine) {
  if (statusLine.rfind("HTTP/", 0) != 0) {
    return "---";
  }
  Word(statusLine);
  const std::string_view code = Word(statusLine);
  return text::ThreeDigitStatus(code) ? std::string(code) : "---";
}

}  // namespace

std::string FormatExchangeLine(const capture::ExchangeSummary& summary) {
  // An exchange taken out of TLS with no request is the proxy's note on why none came (a failed
  // handshake): the line names its server and carries the note.
  const bool note = summary.requestTotal == 0 && !summary.origin.empty();
  if (summary.requestTotal == 0 && !note) {
    return {};
  }
  std::string_view requestLine = summary.requestLine;
  const std::string_view methodWord = Word(requestLine);
  // Bytes that do not begin with a method (what a tunnel carries on after its first exchange)
  // have no method or URL to show.
  const bool http = text::IsMethod(methodWord);
  const std::string method = http ? std::string(methodWord) : std::string();
  std::string url = http ? Printable(Word(requestLine), kMaxUrlLength) : std::string();
  if (!summary.origin.empty() && (note || url.rfind('/', 0) == 0)) {
    url = Printable(summary.origin, kMaxUrlLength) + url;
  }
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, " req=%" PRId64 "B rsp=%" PRId64 "B %ss",
                summary.requestTotal, summary.responseTotal,
                capture::FormatMilliseconds(summary.totalMilliseconds).c_str());
  std::string line = platform::FormatLocalTimeOfDay(summary.startMilliseconds);
  line.append(" #").append(std::to_string(summary.id));
  line.append(" ").append(method.empty() ? "-" : method);
  line.append(" ").append(url.empty() ? "-" : url);
  line.append(" ").append(StatusCode(summary.statusLine));
  line.append(numbers);
  if (note) {
    line.append(" ").append(Printable(summary.statusLine, kMaxUrlLength));
  }
  return line;
}

}  // namespace rw::headless
