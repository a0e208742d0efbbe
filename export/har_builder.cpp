#include "export/har_builder.h"

#include <algorithm>
#include <ctime>
#include <new>
#include <nlohmann/json.hpp>

#include "export/captured_message.h"
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
// Cookies also carry the older form with dashes ("Sunday, 06-Nov-94 08:49:37 GMT"), whose year
// servers write with two digits or four. Two are tried first: read as four, "94" is the year 94.
std::string HttpDateToIso(std::string_view text) {
  static constexpr const char* kForms[] = {"%a, %d %b %Y %H:%M:%S", "%a, %d-%b-%y %H:%M:%S",
                                           "%a, %d-%b-%Y %H:%M:%S"};
  const std::string copy(TrimBlanks(text));
  for (const char* form : kForms) {
    std::tm parts{};
    if (strptime(copy.c_str(), form, &parts) != nullptr) {
      char out[32];
      const size_t n = std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S.000Z", &parts);
      return std::string(out, n);
    }
  }
  return {};
}

// One "name=value" attribute of a Set-Cookie field, into `cookie`; attributes HAR has no field
// for are left out.
void PutCookieAttribute(Json& cookie, std::string_view attribute) {
  const size_t eq = attribute.find('=');
  const std::string_view name = TrimBlanks(attribute.substr(0, eq));
  const std::string_view value =
      eq == std::string_view::npos ? std::string_view() : TrimBlanks(attribute.substr(eq + 1));
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
      PutCookieAttribute(cookie, TrimBlanks(rest.substr(0, next)));
      if (next == std::string_view::npos) {
        break;
      }
      rest.remove_prefix(next + 1);
    }
    list.push_back(std::move(cookie));
  }
  return list;
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

constexpr std::string_view kTunnelledComment = "Tunnelled bytes, relayed without inspection";

// The request as an entry reads it. A tunnel's answer is the proxy's own reply, captured after
// the CONNECT request.
struct RequestParts {
  CapturedMessage message;
  StartLineParts line;
  bool tunnel = false;
  bool tunnelReply = false;
  CapturedMessage reply;  // when tunnelReply
};

// Fragments are the page's own and never reach a server.
std::string EntryUrl(const RequestParts& request, const std::string& origin) {
  std::string url = RequestUrl(request.message, request.line, origin).value_or(request.line.second);
  if (const size_t hash = url.find('#'); hash != std::string::npos) {
    url.resize(hash);
  }
  return url;
}

Json PostData(const ConversationRecord& record, const CapturedMessage& request, int64_t bodySize) {
  Json post{{"mimeType", JsonText(request.Header("Content-Type").value_or(""))},
            {"params", Json::array()}};
  if (static_cast<int64_t>(record.request.size()) == record.requestTotal) {
    PutText(post, request.body);
  } else {
    post["text"] = "";
    post["comment"] =
        NotCapturedNote(bodySize - static_cast<int64_t>(request.body.size()), bodySize);
  }
  return post;
}

Json RequestJson(const ConversationRecord& record, const RequestParts& request,
                 const std::string& url) {
  const CapturedMessage& message = request.message;
  Json req;
  req["method"] = JsonText(request.line.first);
  req["url"] = JsonText(url);
  req["httpVersion"] = JsonText(request.line.rest);
  req["cookies"] = RequestCookies(message);
  req["headers"] = HeaderList(message);
  req["queryString"] = request.tunnel ? Json::array() : QueryList(url);
  const int64_t bodySize = message.headerComplete
                               ? record.requestTotal - static_cast<int64_t>(message.headerSize) -
                                     static_cast<int64_t>(request.reply.headerSize)
                               : -1;
  if (!request.tunnel && bodySize > 0) {
    req["postData"] = PostData(record, message, bodySize);
  }
  req["headersSize"] = message.headerComplete ? static_cast<int64_t>(message.headerSize) : -1;
  req["bodySize"] = bodySize;
  return req;
}

// The first fields of every response: status, its text and the HTTP version.
Json StatusFields(const std::string& statusLine) {
  const StartLineParts parts = SplitStartLine(statusLine);
  Json rsp;
  rsp["status"] = text::ThreeDigitStatus(parts.second).value_or(0);
  rsp["statusText"] = JsonText(parts.rest);
  rsp["httpVersion"] = JsonText(parts.first);
  return rsp;
}

Json TunnelReplyJson(const ConversationRecord& record, const CapturedMessage& reply) {
  Json rsp = StatusFields(reply.startLine);
  rsp["cookies"] = Json::array();
  rsp["headers"] = HeaderList(reply);
  // Every byte the server sent through the tunnel.
  rsp["content"] =
      Json{{"size", record.responseTotal}, {"mimeType", ""}, {"comment", kTunnelledComment}};
  rsp["redirectURL"] = "";
  rsp["headersSize"] = reply.headerComplete ? static_cast<int64_t>(reply.headerSize) : -1;
  rsp["bodySize"] = record.responseTotal;
  return rsp;
}

Json NoResponseJson() {
  Json rsp = StatusFields("");
  rsp["cookies"] = Json::array();
  rsp["headers"] = Json::array();
  rsp["content"] = Json{{"size", 0}, {"mimeType", ""}};
  rsp["redirectURL"] = "";
  rsp["headersSize"] = -1;
  rsp["bodySize"] = -1;
  rsp["comment"] = "No response was received";
  return rsp;
}

// The body as text when it was captured whole (decoded from its chunks), else why not.
Json ContentJson(const ConversationRecord& record, const CapturedMessage& response,
                 int64_t bodySize, bool tunnel) {
  Json content;
  content["size"] = std::max<int64_t>(0, bodySize);
  content["mimeType"] = JsonText(response.Header("Content-Type").value_or(""));
  if (tunnel) {
    content["comment"] = kTunnelledComment;
  } else if (bodySize < 0) {
    content["comment"] = "The response header was not captured whole";
  } else if (static_cast<int64_t>(record.response.size()) != record.responseTotal) {
    content["comment"] =
        NotCapturedNote(bodySize - static_cast<int64_t>(response.body.size()), bodySize);
  } else if (!response.IsChunked()) {
    PutText(content, response.body);
  } else if (std::optional<std::string> decoded = DecodeChunkedBody(response.body)) {
    content["size"] = static_cast<int64_t>(decoded->size());
    PutText(content, *decoded);
  } else {
    content["comment"] = "The chunked body could not be decoded";
  }
  return content;
}

Json ServerResponseJson(const ConversationRecord& record, bool tunnel) {
  // The header is read only from the bytes that follow one another as the server sent them.
  const CapturedMessage response =
      ParseFinalResponse(UnbrokenPart(record.response, record.responseCutAt));
  // Everything before the final response's body, interim responses included.
  const int64_t headerBytes =
      response.headerComplete ? static_cast<int64_t>(response.body.data() - record.response.data())
                              : -1;
  const int64_t bodySize = headerBytes >= 0 ? record.responseTotal - headerBytes : -1;
  Json rsp = StatusFields(response.startLine);
  rsp["cookies"] = ResponseCookies(response);
  rsp["headers"] = HeaderList(response);
  rsp["content"] = ContentJson(record, response, bodySize, tunnel);
  rsp["redirectURL"] = JsonText(response.Header("Location").value_or(""));
  rsp["headersSize"] = headerBytes;
  rsp["bodySize"] = bodySize;
  return rsp;
}

Json ResponseJson(const ConversationRecord& record, const RequestParts& request) {
  if (request.tunnelReply) {
    return TunnelReplyJson(record, request.reply);
  }
  if (record.responseTotal == 0) {
    return NoResponseJson();
  }
  return ServerResponseJson(record, request.tunnel);
}

// HAR timings in milliseconds; the phases it has no measure of are -1.
Json TimingsJson(const ConversationRecord& record) {
  const int64_t connect = Milliseconds(record.connectedTick, record.connectStartTick);
  const uint32_t firstByte =
      record.responseStarted &&
              platform::TickDifference(record.firstResponseTick, record.connectedTick) > 0
          ? record.firstResponseTick
          : record.connectedTick;
  const int64_t wait = record.responseStarted ? Milliseconds(firstByte, record.connectedTick)
                                              : Milliseconds(record.lastTick, record.connectedTick);
  const int64_t receive = record.responseStarted ? Milliseconds(record.lastTick, firstByte) : 0;
  return Json{{"blocked", -1}, {"dns", -1},          {"connect", connect}, {"send", 0},
              {"wait", wait},  {"receive", receive}, {"ssl", -1}};
}

Json BuildEntry(const ConversationRecord& record, const RequestParts& request) {
  Json timings = TimingsJson(record);
  Json entry;
  entry["startedDateTime"] = platform::FormatIso8601Local(record.startMilliseconds);
  entry["time"] = timings["connect"].get<int64_t>() + timings["wait"].get<int64_t>() +
                  timings["receive"].get<int64_t>();
  entry["request"] = RequestJson(record, request, EntryUrl(request, record.origin));
  entry["response"] = ResponseJson(record, request);
  entry["cache"] = Json::object();
  entry["timings"] = std::move(timings);
  entry["_relaywatchId"] = record.id;
  return entry;
}

}  // namespace

std::optional<std::string> HarEntryText(const ConversationRecord& record) {
  if (record.released || record.request.empty()) {
    return std::nullopt;
  }
  RequestParts request;
  request.message = ParseCapturedMessage(UnbrokenPart(record.request, record.requestCutAt));
  request.line = SplitStartLine(request.message.startLine);
  if (!IsMethod(request.line.first) || request.line.second.empty()) {
    return std::nullopt;
  }
  request.tunnel = request.line.first == "CONNECT";
  request.tunnelReply = request.tunnel && request.message.headerComplete &&
                        request.message.body.rfind("HTTP/", 0) == 0;
  if (request.tunnelReply) {
    request.reply = ParseCapturedMessage(request.message.body);
  }
  // Every string was made UTF-8 on the way in; replace rather than throw all the same.
  return BuildEntry(record, request).dump(-1, ' ', false, Json::error_handler_t::replace);
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
