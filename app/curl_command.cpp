#include "app/curl_command.h"

#include <algorithm>
#include <vector>

#include "text/case_blind.h"
#include "text/chunk_decoder.h"
#include "text/header_value.h"
#include "text/text_steps.h"
#include "text/utf8.h"

namespace rw::app {
namespace {

using text::EqualsIgnoringCase;
using text::TrimBlanks;

struct Header {
  std::string name;
  std::string value;
};

// Headers curl writes itself from the command line, or that only concern the hop to the proxy.
bool LeftToCurl(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      "content-length", "transfer-encoding",   "connection", "proxy-connection",
      "keep-alive",     "proxy-authorization", "te",         "upgrade",
  };
  return std::any_of(std::begin(kNames), std::end(kNames),
                     [&](std::string_view known) { return EqualsIgnoringCase(name, known); });
}

// Where the header ends: the offset of the body, or npos when the blank line was not captured.
size_t BodyOffset(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) {
      return std::string_view::npos;
    }
    std::string_view line = bytes.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty() && pos > 0) {
      return end + 1;
    }
    pos = end + 1;
  }
  return std::string_view::npos;
}

bool DecodeChunked(std::string_view raw, std::string& body) {
  body.clear();
  while (true) {
    const text::ChunkStep step = text::NextChunk(raw);
    switch (step.outcome) {
      case text::ChunkOutcome::kData:
        if (raw.size() - step.headerLength < step.size) {
          return false;
        }
        body.append(raw.substr(step.headerLength, step.size));
        raw.remove_prefix(step.headerLength + step.size);
        break;
      case text::ChunkOutcome::kLast:
        return true;
      case text::ChunkOutcome::kNeedMore:
      case text::ChunkOutcome::kMalformed:
        return false;
    }
  }
}

CurlCommand Problem(std::string text) {
  CurlCommand result;
  result.problem = std::move(text);
  return result;
}

}  // namespace

std::string ShellQuote(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  bool plain = true;
  for (size_t i = 0; plain && i < text.size();) {
    const unsigned char b = bytes[i];
    if (b >= 0x80) {
      const size_t n = text::Utf8SequenceLength(bytes + i, text.size() - i);
      plain = n > 0;
      i += n;
    } else {
      plain = b >= 0x20 && b != 0x7F;
      ++i;
    }
  }
  std::string quoted;
  if (plain) {
    quoted = "'";
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
  // Control bytes and bytes that are not UTF-8 are written as escapes: the command stays one
  // line of text that survives the clipboard, and the shell turns each escape back into its byte.
  static constexpr char kHex[] = "0123456789abcdef";
  quoted = "$'";
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = bytes[i];
    const size_t n = b >= 0x80 ? text::Utf8SequenceLength(bytes + i, text.size() - i) : 0;
    if (n > 0) {
      quoted.append(text.substr(i, n));
      i += n;
      continue;
    }
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
    ++i;
  }
  quoted += '\'';
  return quoted;
}

CurlCommand BuildCurlCommand(std::string_view captured, int64_t total, std::string_view proxy,
                             std::string_view origin) {
  const size_t bodyOffset = BodyOffset(captured);
  if (bodyOffset == std::string_view::npos) {
    return Problem("The request header was not captured whole.");
  }
  if (static_cast<int64_t>(captured.size()) < total) {
    return Problem("The request body was not captured whole (" +
                   std::to_string(total - static_cast<int64_t>(captured.size())) +
                   " bytes not shown).");
  }
  if (captured.find('\0') != std::string_view::npos) {
    return Problem("The request holds a NUL byte, which a shell command cannot carry.");
  }

  std::vector<std::string_view> lines;
  for (size_t pos = 0; pos < bodyOffset;) {
    const size_t end = captured.find('\n', pos);
    std::string_view line = captured.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    pos = end + 1;
  }
  // The request line, then the headers, then the blank line.
  const std::string_view requestLine = lines.front();
  const size_t firstSpace = requestLine.find(' ');
  const size_t lastSpace = requestLine.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
    return Problem("The request line is malformed.");
  }
  const std::string method(requestLine.substr(0, firstSpace));
  const std::string target(TrimBlanks(requestLine.substr(firstSpace + 1, lastSpace - firstSpace)));
  if (EqualsIgnoringCase(method, "CONNECT")) {
    return Problem("A CONNECT request opens an encrypted tunnel; there is no request to repeat.");
  }

  std::vector<Header> headers;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) {
      continue;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !headers.empty()) {
      headers.back().value += ' ';
      headers.back().value += TrimBlanks(line);
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      continue;
    }
    if (line.front() == '@') {
      // curl reads "--header @name" as a file of headers to send.
      return Problem(
          "The request holds a header name beginning with @, which curl would read "
          "as a file name.");
    }
    headers.push_back({std::string(TrimBlanks(line.substr(0, colon))),
                       std::string(TrimBlanks(line.substr(colon + 1)))});
  }

  std::string url = target;
  if (!origin.empty() && !target.empty() && target.front() == '/') {
    url = std::string(origin) + target;
  } else if (url.rfind('/', 0) == 0 || url.find("://") == std::string::npos) {
    // Origin form: the host comes from the Host header.
    const auto host = std::find_if(headers.begin(), headers.end(), [](const Header& h) {
      return EqualsIgnoringCase(h.name, "host");
    });
    if (host == headers.end() || host->value.empty()) {
      return Problem("The request names no host.");
    }
    url = "http://" + host->value + target;
  }

  std::string body(captured.substr(bodyOffset));
  bool compressed = false;
  for (const Header& header : headers) {
    if (EqualsIgnoringCase(header.name, "transfer-encoding") &&
        text::LastCodingIsChunked(header.value)) {
      std::string decoded;
      if (!DecodeChunked(body, decoded)) {
        return Problem("The chunked request body is malformed.");
      }
      body = std::move(decoded);
    }
    if (EqualsIgnoringCase(header.name, "accept-encoding")) {
      compressed = true;
    }
  }

  std::string command = "curl";
  if (!proxy.empty()) {
    command += " --proxy " + ShellQuote("http://" + std::string(proxy));
  } else {
    command += " --noproxy '*'";
  }
  if (EqualsIgnoringCase(method, "HEAD")) {
    command += " --head";
  } else if (method != "GET" || !body.empty()) {
    command += " --request " + ShellQuote(method);
  }
  // Brackets and braces in a URL are the page's own, not curl's ranges and lists.
  command += " --globoff " + ShellQuote(url);
  for (const Header& header : headers) {
    if (!LeftToCurl(header.name)) {
      command += " --header " + ShellQuote(header.name + ": " + header.value);
    }
  }
  if (!body.empty()) {
    // Taken as the bytes themselves: "--data-binary @x" would upload the local file x.
    command += " --data-raw " + ShellQuote(body);
  }
  if (compressed) {
    // The browser's Accept-Encoding is repeated; curl then decodes what the server compresses.
    command += " --compressed";
  }
  CurlCommand result;
  result.ok = true;
  result.command = std::move(command);
  return result;
}

}  // namespace rw::app
