#include "capture/har_builder.h"

#include <algorithm>
#include <ctime>
#include <new>
#include <nlohmann/json.hpp>

#include "capture/captured_message.h"
#include "platform/error_text.h"
#include "platform/local_time.h"
#include "platform/replacing_file.h"
#include "platform/ticks.h"
#include "text/case_blind.h"
#include "text/header_value.h"
#include "text/number_parsers.h"
#include "text/text_steps.h"
#include "text/utf8.h"

namespace rw::capture {
namespace {

using text::EqualsIgnoringCase;
using text::HexDigitValue;
using text::IsMethod;
using text::StartsWithIgnoringCase;
using text::TrimBlanks;

using Json = nlohmann::ordered_json;

bool IsUtf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (data[pos] < 0x80) {
      ++pos;
      continue;
    }
    const size_t n = text::Utf8SequenceLength(data + pos, bytes.size() - pos);
    if (n == 0) {
      return false;
    }
    pos += n;
  }
  return true;
}

// JSON strings must be UTF-8: bytes that do not form it become "?".
std::string JsonText(std::string_view bytes) {
  return IsUtf8(bytes) ? std::string(bytes) : text::RoundTripCodePage(bytes);
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) {
      v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    }
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

// Query components are percent-decoded with "+" as a space, as forms encode them.
std::string DecodeQueryComponent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < text.size() + 0 && HexDigitValue(text[i + 1]) >= 0 &&
               HexDigitValue(text[i + 2]) >= 0) {
      out.push_back(
          static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

Json NameValueList(const std::vector<std::pair<std::string, std::string>>& pairs) {
  Json list = Json::array();
  for (const auto& [name, value] : pairs) {
    list.push_back(Json{{"name", JsonText(name)}, {"value", JsonText(value)}});
  }
  return list;
}

Json HeaderList(const CapturedMessage& message) {
  Json list = Json::array();
  for (const HeaderField& field : message.headers) {
    list.push_back(Json{{"name", JsonText(field.name)}, {"value", JsonText(field.value)}});
  }
  return list;
}

Json QueryList(std::string_view url) {
  const size_t question = url.find('?');
  std::vector<std::pair<std::string, std::string>> pairs;
  if (question != std::string_view::npos) {
    std::string_view query = url.substr(question + 1);
    while (!query.empty()) {
      const size_t amp = query.find('&');
      const std::string_view part = query.substr(0, amp);
      if (!part.empty()) {
        const size_t eq = part.find('=');
        pairs.emplace_back(DecodeQueryComponent(part.substr(0, eq)),
                           eq == std::string_view::npos
                               ? std::string()
                               : DecodeQueryComponent(part.substr(eq + 1)));
      }
      if (amp == std::string_view::npos) {
        break;
      }
      query.remove_prefix(amp + 1);
    }
  }
  return NameValueList(pairs);
}

Json RequestCookies(const CapturedMessage& request) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& header : request.Headers("Cookie")) {
    std::string_view rest = header;
    while (!rest.empty()) {
      const size_t semi = rest.find(';');
      const std::string_view part = TrimBlanks(rest.substr(0, semi));
      if (!part.empty()) {
        const size_t eq = part.find('=');
        pairs.emplace_back(std::string(TrimBlanks(part.substr(0, eq))),
                           eq == std::string_view::npos
                               ? std::string()
                               : std::string(TrimBlanks(part.substr(eq + 1))));
      }
      if (semi == std::string_view::npos) {
        break;
      }
      rest.remove_prefix(semi + 1);
    }
  }
  return NameValueList(pairs);
}

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") as ISO 8601 in UTC; empty when it is not one.
std::string HttpDateToIso(std::string_view text) {
  std::string copy(TrimBlanks(text));
  std::tm parts{};
  const char* end = strptime(copy.c_str(), "%a, %d %b %Y %H:%M:%S", &parts);
  if (end == nullptr) {
    // The older form with dashes, "Sunday, 06-Nov-94 08:49:37 GMT".
    parts = std::tm{};
    end = strptime(copy.c_str(), "%a, %d-%b-%y %H:%M:%S", &parts);
  }
  if (end == nullptr) {
    return {};
  }
  char out[32];
  const size_t n = std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S.000Z", &parts);
  return std::string(out, n);
}

Json ResponseCookies(const CapturedMessage& response) {
  Json list = Json::array();
  for (const std::string& header : response.Headers("Set-Cookie")) {
    std::string_view rest = header;
    const size_t semi = rest.find(';');
    const std::string_view pair = TrimBlanks(rest.substr(0, semi));
    const size_t eq = pair.find('=');
    Json cookie{
        {"name", JsonText(TrimBlanks(pair.substr(0, eq)))},
        {"value", JsonText(eq == std::string_view::npos ? std::string_view()
                                                        : TrimBlanks(pair.substr(eq + 1)))}};
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    while (!rest.empty()) {
      const size_t next = rest.find(';');
      const std::string_view attribute = TrimBlanks(rest.substr(0, next));
      const size_t aeq = attribute.find('=');
      const std::string_view name = TrimBlanks(attribute.substr(0, aeq));
      const std::string_view value = aeq == std::string_view::npos
                                         ? std::string_view()
                                         : TrimBlanks(attribute.substr(aeq + 1));
      if (EqualsIgnoringCase(name, "Path")) {
        cookie["path"] = JsonText(value);
      } else if (EqualsIgnoringCase(name, "Domain")) {
        cookie["domain"] = JsonText(value);
      } else if (EqualsIgnoringCase(name, "Expires")) {
        if (std::string iso = HttpDateToIso(value); !iso.empty()) {
          cookie["expires"] = iso;
        }
      } else if (EqualsIgnoringCase(name, "HttpOnly")) {
        cookie["httpOnly"] = true;
      } else if (EqualsIgnoringCase(name, "Secure")) {
        cookie["secure"] = true;
      }
      if (next == std::string_view::npos) {
        break;
      }
      rest.remove_prefix(next + 1);
    }
    list.push_back(std::move(cookie));
  }
  return list;
}

// The request's URL, absolute: absolute-form as sent, origin-form completed from the Host field,
// a CONNECT's authority as an https URL. Fragments are dropped.
std::string AbsoluteUrl(const StartLineParts& line, const CapturedMessage& request, bool tunnel,
                        const std::string& origin) {
  std::string url;
  if (!origin.empty() && !line.second.empty() && line.second.front() == '/') {
    url = origin + line.second;  // taken out of TLS: the server is the tunnel's
  } else if (tunnel) {
    url = "https://" + line.second;
  } else if (StartsWithIgnoringCase(line.second, "http://") ||
             StartsWithIgnoringCase(line.second, "https://")) {
    url = line.second;
  } else if (!line.second.empty() && line.second.front() == '/') {
    const std::optional<std::string> host = request.Header("Host");
    url = host ? "http://" + *host + line.second : line.second;
  } else {
    url = line.second;
  }
  if (const size_t hash = url.find('#'); hash != std::string::npos) {
    url.resize(hash);
  }
  return url;
}

// Codings add up over repeated Transfer-Encoding lines, so the last line holds the last coding.
bool IsChunked(const CapturedMessage& message) {
  const std::vector<std::string> codings = message.Headers("Transfer-Encoding");
  return !codings.empty() && text::LastCodingIsChunked(codings.back());
}

std::string NotCapturedNote(int64_t missing, int64_t total) {
  return std::to_string(missing) + " of " + std::to_string(total) +
         " body bytes were not captured (binary data or over the 60,000-byte capture limit)";
}

// Text fields take text; anything else is carried as base64.
void PutText(Json& object, std::string_view bytes) {
  if (IsUtf8(bytes)) {
    object["text"] = std::string(bytes);
  } else {
    object["text"] = Base64(bytes);
    object["encoding"] = "base64";
  }
}

// The captured bytes that follow one another as they were sent (see ConversationRecord).
std::string_view UnbrokenPart(const std::string& captured, int64_t cutAt) {
  return cutAt < 0 ? std::string_view(captured)
                   : std::string_view(captured).substr(
                         0, std::min(static_cast<size_t>(cutAt), captured.size()));
}

int64_t Milliseconds(uint32_t later, uint32_t earlier) {
  return std::max<int64_t>(0, platform::TickDifference(later, earlier));
}

Json BuildEntry(const ConversationRecord& record, const CapturedMessage& request,
                const StartLineParts& requestLine) {
  const bool tunnel = requestLine.first == "CONNECT";
  const std::string url = AbsoluteUrl(requestLine, request, tunnel, record.origin);
  const bool requestWhole = static_cast<int64_t>(record.request.size()) == record.requestTotal;

  Json req;
  req["method"] = JsonText(requestLine.first);
  req["url"] = JsonText(url);
  req["httpVersion"] = JsonText(requestLine.rest);
  req["cookies"] = RequestCookies(request);
  req["headers"] = HeaderList(request);
  req["queryString"] = tunnel ? Json::array() : QueryList(url);
  // A tunnel's answer is the proxy's own reply, captured after the CONNECT request.
  const bool tunnelReply = tunnel && request.headerComplete && request.body.rfind("HTTP/", 0) == 0;
  const CapturedMessage reply =
      tunnelReply ? ParseCapturedMessage(request.body) : CapturedMessage{};
  const int64_t requestBodySize =
      request.headerComplete ? record.requestTotal - static_cast<int64_t>(request.headerSize) -
                                   static_cast<int64_t>(reply.headerSize)
                             : -1;
  if (!tunnel && requestBodySize > 0) {
    Json post{{"mimeType", JsonText(request.Header("Content-Type").value_or(""))},
              {"params", Json::array()}};
    if (requestWhole) {
      PutText(post, request.body);
    } else {
      post["text"] = "";
      post["comment"] = NotCapturedNote(requestBodySize - static_cast<int64_t>(request.body.size()),
                                        requestBodySize);
    }
    req["postData"] = std::move(post);
  }
  req["headersSize"] = request.headerComplete ? static_cast<int64_t>(request.headerSize) : -1;
  req["bodySize"] = requestBodySize;

  Json rsp;
  Json content;
  if (tunnelReply) {
    const StartLineParts statusLine = SplitStartLine(reply.startLine);
    rsp["status"] = text::ThreeDigitStatus(statusLine.second).value_or(0);
    rsp["statusText"] = JsonText(statusLine.rest);
    rsp["httpVersion"] = JsonText(statusLine.first);
    rsp["cookies"] = Json::array();
    rsp["headers"] = HeaderList(reply);
    // Every byte the server sent through the tunnel.
    content["size"] = record.responseTotal;
    content["mimeType"] = "";
    content["comment"] = "Tunnelled bytes, relayed without inspection";
    rsp["content"] = std::move(content);
    rsp["redirectURL"] = "";
    rsp["headersSize"] = reply.headerComplete ? static_cast<int64_t>(reply.headerSize) : -1;
    rsp["bodySize"] = record.responseTotal;
  } else if (record.responseTotal == 0) {
    rsp["status"] = 0;
    rsp["statusText"] = "";
    rsp["httpVersion"] = "";
    rsp["cookies"] = Json::array();
    rsp["headers"] = Json::array();
    content["size"] = 0;
    content["mimeType"] = "";
    rsp["content"] = std::move(content);
    rsp["redirectURL"] = "";
    rsp["headersSize"] = -1;
    rsp["bodySize"] = -1;
    rsp["comment"] = "No response was received";
  } else {
    // The header is read only from the bytes that follow one another as the server sent them.
    const CapturedMessage response =
        ParseFinalResponse(UnbrokenPart(record.response, record.responseCutAt));
    const StartLineParts statusLine = SplitStartLine(response.startLine);
    const int status = text::ThreeDigitStatus(statusLine.second).value_or(0);
    // Everything before the final response's body, interim responses included.
    const int64_t headerBytes =
        response.headerComplete
            ? static_cast<int64_t>(response.body.data() - record.response.data())
            : -1;
    const int64_t bodySize = headerBytes >= 0 ? record.responseTotal - headerBytes : -1;
    const bool whole = static_cast<int64_t>(record.response.size()) == record.responseTotal;
    rsp["status"] = status;
    rsp["statusText"] = JsonText(statusLine.rest);
    rsp["httpVersion"] = JsonText(statusLine.first);
    rsp["cookies"] = ResponseCookies(response);
    rsp["headers"] = HeaderList(response);
    content["size"] = std::max<int64_t>(0, bodySize);
    content["mimeType"] = JsonText(response.Header("Content-Type").value_or(""));
    if (tunnel) {
      content["comment"] = "Tunnelled bytes, relayed without inspection";
    } else if (bodySize < 0) {
      content["comment"] = "The response header was not captured whole";
    } else if (!whole) {
      content["comment"] =
          NotCapturedNote(bodySize - static_cast<int64_t>(response.body.size()), bodySize);
    } else if (IsChunked(response)) {
      if (std::optional<std::string> decoded = DecodeChunkedBody(response.body)) {
        content["size"] = static_cast<int64_t>(decoded->size());
        PutText(content, *decoded);
      } else {
        content["comment"] = "The chunked body could not be decoded";
      }
    } else {
      PutText(content, response.body);
    }
    rsp["content"] = std::move(content);
    rsp["redirectURL"] = JsonText(response.Header("Location").value_or(""));
    rsp["headersSize"] = headerBytes;
    rsp["bodySize"] = bodySize;
  }

  const int64_t connect = Milliseconds(record.connectedTick, record.connectStartTick);
  const uint32_t firstByte =
      record.responseStarted &&
              platform::TickDifference(record.firstResponseTick, record.connectedTick) > 0
          ? record.firstResponseTick
          : record.connectedTick;
  const int64_t wait = record.responseStarted ? Milliseconds(firstByte, record.connectedTick)
                                              : Milliseconds(record.lastTick, record.connectedTick);
  const int64_t receive = record.responseStarted ? Milliseconds(record.lastTick, firstByte) : 0;

  Json entry;
  entry["startedDateTime"] = platform::FormatIso8601Local(record.startMilliseconds);
  entry["time"] = connect + wait + receive;
  entry["request"] = std::move(req);
  entry["response"] = std::move(rsp);
  entry["cache"] = Json::object();
  entry["timings"] = Json{{"blocked", -1}, {"dns", -1},          {"connect", connect}, {"send", 0},
                          {"wait", wait},  {"receive", receive}, {"ssl", -1}};
  entry["_relaywatchId"] = record.id;
  return entry;
}

}  // namespace

std::optional<std::string> HarEntryText(const ConversationRecord& record) {
  if (record.released || record.request.empty()) {
    return std::nullopt;
  }
  const CapturedMessage request =
      ParseCapturedMessage(UnbrokenPart(record.request, record.requestCutAt));
  const StartLineParts requestLine = SplitStartLine(request.startLine);
  if (!IsMethod(requestLine.first) || requestLine.second.empty()) {
    return std::nullopt;
  }
  // Every string was made UTF-8 on the way in; replace rather than throw all the same.
  return BuildEntry(record, request, requestLine)
      .dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string HarDocumentHead(const HarCreator& creator) {
  const Json creatorJson{{"name", JsonText(creator.name)}, {"version", JsonText(creator.version)}};
  return "{\n  \"log\": {\n    \"version\": \"1.2\",\n    \"creator\": " +
         creatorJson.dump(-1, ' ', false, Json::error_handler_t::replace) +
         ",\n    \"pages\": [],\n    \"entries\": [\n";
}

std::string_view HarDocumentTail() {
  return "\n    ]\n  }\n}\n";
}

HarResult BuildHar(const std::vector<std::shared_ptr<Conversation>>& conversations,
                   const HarCreator& creator) {
  HarResult result;
  try {
    result.text = HarDocumentHead(creator);
    for (const std::shared_ptr<Conversation>& conversation : conversations) {
      if (conversation == nullptr) {
        continue;
      }
      std::optional<std::string> entry = HarEntryText(conversation->CopyRecord());
      if (!entry) {
        continue;
      }
      if (result.entries > 0) {
        result.text.append(",\n");
      }
      result.text.append(*entry);
      ++result.entries;
    }
    result.text.append(HarDocumentTail());
    result.ok = true;
  } catch (const std::exception& e) {
    result.text.clear();
    result.error = std::string("Could not build the HAR document: ") + e.what();
  }
  return result;
}

HarResult WriteHarFile(const std::string& path,
                       const std::vector<std::shared_ptr<Conversation>>& conversations,
                       const HarCreator& creator) {
  HarResult result = BuildHar(conversations, creator);
  if (!result.ok) {
    return result;
  }
  platform::ReplacingFile file;
  const bool written = file.Begin(path) && file.Write(result.text) && file.Commit();
  result.text.clear();
  if (!written) {
    result.ok = false;
    result.error = "Could not write " + path + ": " + platform::ErrorText(file.Error());
  }
  return result;
}

}  // namespace rw::capture
