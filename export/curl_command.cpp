#include "export/curl_command.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "export/captured_message.h"
#include "text/case_blind.h"
#include "text/utf8.h"

namespace rw::app {
namespace {

using capture::CapturedMessage;
using capture::HeaderField;
using text::EqualsIgnoringCase;

// Headers curl writes itself from the command line, or that only concern the hop to the proxy.
bool LeftToCurl(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      "content-length", "transfer-encoding",   "connection", "proxy-connection",
      "keep-alive",     "proxy-authorization", "te",         "upgrade",
  };
  return std::any_of(std::begin(kNames), std::end(kNames),
                     [&](std::string_view known) { return EqualsIgnoringCase(name, known); });
}

CurlCommand Problem(std::string text) {
  CurlCommand result;
  result.problem = std::move(text);
  return result;
}

// What the command repeats, read from the captured request.
struct Repeat {
  std::string method;
  std::string url;
  std::vector<HeaderField> headers;  // the well-formed ones, in order
  std::string body;                  // decoded from its chunks
  bool compressed = false;
};

// Why the captured bytes cannot make a command at all; nothing when they can.
std::optional<std::string> CaptureProblem(std::string_view captured, int64_t total,
                                          const CapturedMessage& message) {
  if (!message.headerComplete) {
    return "The request header was not captured whole.";
  }
  if (static_cast<int64_t>(captured.size()) < total) {
    return "The request body was not captured whole (" +
           std::to_string(total - static_cast<int64_t>(captured.size())) + " bytes not shown).";
  }
  if (captured.find('\0') != std::string_view::npos) {
    return "The request holds a NUL byte, which a shell command cannot carry.";
  }
  return std::nullopt;
}

// The fields curl is given; a line without a colon or a name is no field and is left out.
std::optional<std::string> TakeHeaders(const CapturedMessage& message, Repeat& repeat) {
  for (const HeaderField& field : message.headers) {
    if (!field.hasColon || field.name.empty()) {
      continue;
    }
    if (field.name.front() == '@') {
      // curl reads "--header @name" as a file of headers to send.
      return "The request holds a header name beginning with @, which curl would read as a file "
             "name.";
    }
    repeat.headers.push_back(field);
  }
  return std::nullopt;
}

// Reads what the command repeats; the problem, for the user, when the request cannot be repeated.
std::optional<std::string> ReadRequest(const CapturedMessage& message, std::string_view origin,
                                       Repeat& repeat) {
  const capture::StartLineParts line = capture::SplitStartLine(message.startLine);
  if (line.second.empty() || line.rest.empty()) {
    return "The request line is malformed.";
  }
  if (EqualsIgnoringCase(line.first, "CONNECT")) {
    return "A CONNECT request opens an encrypted tunnel; there is no request to repeat.";
  }
  repeat.method = line.first;
  if (std::optional<std::string> problem = TakeHeaders(message, repeat)) {
    return problem;
  }
  std::optional<std::string> url = capture::RequestUrl(message, line, origin);
  if (!url) {
    return "The request names no host.";
  }
  repeat.url = std::move(*url);
  std::optional<std::string> body =
      message.IsChunked() ? capture::DecodeChunkedBody(message.body) : std::string(message.body);
  if (!body) {
    return "The chunked request body is malformed.";
  }
  repeat.body = std::move(*body);
  repeat.compressed = message.Header("Accept-Encoding").has_value();
  return std::nullopt;
}

std::string CommandLine(const Repeat& repeat, std::string_view proxy) {
  std::string command = "curl";
  if (!proxy.empty()) {
    command += " --proxy " + ShellQuote("http://" + std::string(proxy));
  } else {
    command += " --noproxy '*'";
  }
  if (EqualsIgnoringCase(repeat.method, "HEAD")) {
    command += " --head";
  } else if (repeat.method != "GET" || !repeat.body.empty()) {
    command += " --request " + ShellQuote(repeat.method);
  }
  // Brackets and braces in a URL are the page's own, not curl's ranges and lists.
  command += " --globoff " + ShellQuote(repeat.url);
  for (const HeaderField& header : repeat.headers) {
    if (!LeftToCurl(header.name)) {
      command += " --header " + ShellQuote(header.name + ": " + header.value);
    }
  }
  if (!repeat.body.empty()) {
    // Taken as the bytes themselves: "--data-binary @x" would upload the local file x.
    command += " --data-raw " + ShellQuote(repeat.body);
  }
  if (repeat.compressed) {
    // The browser's Accept-Encoding is repeated; curl then decodes what the server compresses.
    command += " --compressed";
  }
  return command;
}

// Printable UTF-8: no control bytes, no bytes outside UTF-8 sequences.
bool IsPlainText(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = bytes[i];
    if (b >= 0x80) {
      const size_t n = text::Utf8SequenceLength(bytes + i, text.size() - i);
      if (n == 0) {
        return false;
      }
      i += n;
    } else if (b < 0x20 || b == 0x7F) {
      return false;
    } else {
      ++i;
    }
  }
  return true;
}

std::string SingleQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

// One byte that is not part of a UTF-8 sequence, as $'...' reads it back.
void AppendEscaped(std::string& quoted, unsigned char b) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (b == '\'' || b == '\\') {
    quoted += '\\';
    quoted += static_cast<char>(b);
  } else if (b == '\n') {
    quoted += "\\n";
  } else if (b == '\r') {
    quoted += "\\r";
  } else if (b == '\t') {
    quoted += "\\t";
  } else if (b < 0x20 || b >= 0x7F) {
    quoted += "\\x";
    quoted += kHex[b >> 4];
    quoted += kHex[b & 0xF];
  } else {
    quoted += static_cast<char>(b);
  }
}

// Control bytes and bytes that are not UTF-8 are written as escapes: the command stays one line
// of text that survives the clipboard, and the shell turns each escape back into its byte.
std::string DollarQuoted(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string quoted = "$'";
  for (size_t i = 0; i < text.size();) {
    const size_t n = bytes[i] >= 0x80 ? text::Utf8SequenceLength(bytes + i, text.size() - i) : 0;
    if (n > 0) {
      quoted.append(text.substr(i, n));
      i += n;
    } else {
      AppendEscaped(quoted, bytes[i]);
      ++i;
    }
  }
  quoted += '\'';
  return quoted;
}

}  // namespace

std::string ShellQuote(std::string_view text) {
  return IsPlainText(text) ? SingleQuoted(text) : DollarQuoted(text);
}

CurlCommand BuildCurlCommand(std::string_view captured, int64_t total, std::string_view proxy,
                             std::string_view origin) {
  const CapturedMessage message = capture::ParseCapturedMessage(captured);
  Repeat repeat;
  std::optional<std::string> problem = CaptureProblem(captured, total, message);
  if (!problem) {
    problem = ReadRequest(message, origin, repeat);
  }
  if (problem) {
    return Problem(std::move(*problem));
  }
  CurlCommand result;
  result.ok = true;
  result.command = CommandLine(repeat, proxy);
  return result;
}

}  // namespace rw::app
