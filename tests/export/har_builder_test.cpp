#include "export/har_builder.h"

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "capture/conversation_store.h"
#include "tests/capture/capture_test_support.h"

namespace rw::capture {
namespace {

using Json = nlohmann::json;
using testing::ManualTicks;
using testing::TempDir;

ConversationRecord Record(std::string request, std::string response) {
  ConversationRecord record;
  record.id = 7;
  record.startMilliseconds = 1765233301123;  // 2025-12-08T22:35:01.123Z
  record.requestTotal = static_cast<int64_t>(request.size());
  record.responseTotal = static_cast<int64_t>(response.size());
  record.request = std::move(request);
  record.response = std::move(response);
  record.responseStarted = record.responseTotal > 0;
  return record;
}

Json Entry(const ConversationRecord& record) {
  const std::optional<std::string> text = HarEntryText(record);
  EXPECT_TRUE(text.has_value());
  if (!text) {
    return Json();
  }
  EXPECT_EQ(text->find('\n'), std::string::npos) << "an entry is one line";
  return Json::parse(*text);
}

Json Find(const Json& list, const std::string& name) {
  for (const Json& item : list) {
    if (item["name"] == name) {
      return item;
    }
  }
  return Json();
}

TEST(HarBuilder, RequestFields) {
  const std::string header =
      "GET /search?q=caf%C3%A9+au+lait&empty=&flag HTTP/1.1\r\nHost: shop.test:8080\r\n"
      "Cookie: session=abc; theme = dark\r\nAccept: */*\r\n\r\n";
  const Json entry = Entry(Record(header, "HTTP/1.1 204 No Content\r\n\r\n"));
  const Json& request = entry["request"];
  EXPECT_EQ(request["method"], "GET");
  // Origin-form targets take their host from the Host field.
  EXPECT_EQ(request["url"], "http://shop.test:8080/search?q=caf%C3%A9+au+lait&empty=&flag");
  EXPECT_EQ(request["httpVersion"], "HTTP/1.1");
  EXPECT_EQ(request["queryString"],
            Json::parse(R"([{"name":"q","value":"café au lait"},{"name":"empty","value":""},
                            {"name":"flag","value":""}])"));
  EXPECT_EQ(request["cookies"], Json::parse(R"([{"name":"session","value":"abc"},
                                                {"name":"theme","value":"dark"}])"));
  EXPECT_EQ(request["headers"].size(), 3u);
  EXPECT_EQ(Find(request["headers"], "Accept")["value"], "*/*");
  EXPECT_EQ(request["headersSize"], header.size());
  EXPECT_EQ(request["bodySize"], 0);
  EXPECT_FALSE(request.contains("postData"));
}

TEST(HarBuilder, AbsoluteFormAndTunnelUrls) {
  const Json absolute =
      Entry(Record("GET http://a.test/p#frag HTTP/1.1\r\nHost: b.test\r\n\r\n", ""));
  EXPECT_EQ(absolute["request"]["url"], "http://a.test/p");

  // The proxy's own reply is captured after the CONNECT request; the server's bytes follow.
  const Json tunnel =
      Entry(Record("CONNECT a.test:443 HTTP/1.1\r\nHost: a.test:443\r\n\r\n"
                   "HTTP/1.0 200 Connection established\r\nProxy-agent: Relaywatch\r\n\r\n\x16",
                   "\x16\x16"));
  EXPECT_EQ(tunnel["request"]["method"], "CONNECT");
  EXPECT_EQ(tunnel["request"]["url"], "https://a.test:443");
  EXPECT_EQ(tunnel["request"]["queryString"], Json::array());
  EXPECT_EQ(tunnel["request"]["bodySize"], 1);
  EXPECT_FALSE(tunnel["request"].contains("postData"));
  EXPECT_EQ(tunnel["response"]["status"], 200);
  EXPECT_EQ(tunnel["response"]["statusText"], "Connection established");
  EXPECT_EQ(tunnel["response"]["httpVersion"], "HTTP/1.0");
  EXPECT_EQ(tunnel["response"]["headers"].size(), 1u);
  EXPECT_EQ(tunnel["response"]["content"]["size"], 2);
  EXPECT_EQ(tunnel["response"]["bodySize"], 2);
  EXPECT_FALSE(tunnel["response"]["content"].contains("text"));

  // A tunnel through an upstream proxy: the upstream's reply arrives as the response.
  const Json chained = Entry(Record("CONNECT a.test:443 HTTP/1.1\r\n\r\n",
                                    "HTTP/1.1 200 Connection established\r\n\r\n\x16\x16"));
  EXPECT_EQ(chained["response"]["status"], 200);
  EXPECT_EQ(chained["response"]["content"]["size"], 2);
}

TEST(HarBuilder, ExchangeTakenOutOfTlsIsNamedByItsOrigin) {
  // The tunnel's server names it, not the Host field the page's request carries.
  ConversationRecord record =
      Record("GET /p?q=1#f HTTP/1.1\r\nHost: elsewhere.test\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n");
  record.origin = "https://a.test:8443";
  const Json entry = Entry(record);
  EXPECT_EQ(entry["request"]["url"], "https://a.test:8443/p?q=1");
  EXPECT_EQ(entry["request"]["queryString"].size(), 1u);
}

TEST(HarBuilder, ResponseFields) {
  const std::string body = "<p>moved</p>";
  const std::string header =
      "HTTP/1.1 301 Moved Permanently\r\nLocation: http://a.test/new\r\n"
      "Content-Type: text/html; charset=utf-8\r\nContent-Length: 12\r\n"
      "Set-Cookie: id=42; Path=/; Domain=a.test; Expires=Wed, 09 Jun 2027 10:18:14 GMT; "
      "Secure; HttpOnly\r\nSet-Cookie: plain=1\r\n"
      // The old dashed form of the expiry date, with two digits of the year or four.
      "Set-Cookie: a=1; Expires=Sunday, 06-Nov-94 08:49:37 GMT\r\n"
      "Set-Cookie: b=2; expires=Wed, 09-Jun-2027 10:18:14 GMT\r\n\r\n";
  const Json entry = Entry(Record("GET http://a.test/old HTTP/1.1\r\n\r\n", header + body));
  const Json& response = entry["response"];
  EXPECT_EQ(response["status"], 301);
  EXPECT_EQ(response["statusText"], "Moved Permanently");
  EXPECT_EQ(response["httpVersion"], "HTTP/1.1");
  EXPECT_EQ(response["redirectURL"], "http://a.test/new");
  EXPECT_EQ(response["headers"].size(), 7u);
  EXPECT_EQ(response["cookies"][0], Json::parse(R"({"name":"id","value":"42","path":"/",
      "domain":"a.test","expires":"2027-06-09T10:18:14.000Z","secure":true,"httpOnly":true})"));
  EXPECT_EQ(response["cookies"][1], Json::parse(R"({"name":"plain","value":"1"})"));
  EXPECT_EQ(response["cookies"][2].value("expires", ""), "1994-11-06T08:49:37.000Z");
  EXPECT_EQ(response["cookies"][3].value("expires", ""), "2027-06-09T10:18:14.000Z");
  EXPECT_EQ(response["content"]["mimeType"], "text/html; charset=utf-8");
  EXPECT_EQ(response["content"]["size"], 12);
  EXPECT_EQ(response["content"]["text"], body);
  EXPECT_EQ(response["bodySize"], 12);
  EXPECT_EQ(response["headersSize"], header.size());
}

// A byte 0-8 ends the captured text of its read, and the rest of that read is not captured:
// what later reads add must not be taken for the rest of the header.
TEST(HarBuilder, AHeaderCutByABinaryByteIsNotSplicedWithLaterReads) {
  using namespace std::string_literals;
  const struct {
    const char* name;
    std::vector<std::string> reads;
    int status;
  } rows[] = {
      {"cut in a field",
       {"HTTP/1.1 200 OK\r\nX-Bin: \x01\x02\r\nContent-Type: text/plain\r\n\r\n",
        "HTTP/1.1 302 Found\r\nLocation: http://evil.test/\r\nSet-Cookie: s=1\r\n\r\n"},
       200},
      {"cut in the status line",
       {"HTTP/1.1 2\x08", "02 Found\r\nLocation: http://evil.test/\r\nSet-Cookie: s=1\r\n\r\n"},
       0},
      {"cut after an interim response",
       {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 201 Created\r\nX: \x00"s,
        "\r\nLocation: http://evil.test/\r\nSet-Cookie: s=1\r\n\r\n"},
       201},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ConversationStore store;
    Conversation conversation(2, store);
    const std::string request = "GET http://a.test/ HTTP/1.1\r\nHost: a.test\r\n\r\n";
    conversation.AddRequestData(request.data(), static_cast<int32_t>(request.size()));
    for (const std::string& read : row.reads) {
      conversation.AddResponseData(read.data(), static_cast<int32_t>(read.size()));
    }
    const Json response = Entry(conversation.CopyRecord())["response"];
    EXPECT_EQ(response["status"], row.status);
    EXPECT_EQ(response["redirectURL"], "");
    EXPECT_TRUE(Find(response["headers"], "Location").is_null()) << response["headers"];
    EXPECT_TRUE(response["cookies"].empty());
    EXPECT_EQ(response["headersSize"], -1);
    EXPECT_EQ(response["content"]["comment"], "The response header was not captured whole");
  }
}

TEST(HarBuilder, ContentFromWhatWasCaptured) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: x\r\n";
  struct Row {
    const char* name;
    std::string response;  // what was captured
    int64_t uncaptured;    // bytes relayed but not captured
    int64_t size;          // content.size
    const char* text;      // content.text, nullptr when absent
    const char* encoding;  // content.encoding, nullptr when absent
    const char* comment;   // start of content.comment, nullptr when absent
  };
  const Row rows[] = {
      {"whole text", head + "\r\nhello", 0, 5, "hello", nullptr, nullptr},
      {"empty body", head + "\r\n", 0, 0, "", nullptr, nullptr},
      {"binary body: header only", head + "\r\n", 1000, 1000, nullptr, nullptr,
       "1000 of 1000 body bytes were not captured"},
      {"text over the capture cap", head + "\r\nabc", 7, 10, nullptr, nullptr,
       "7 of 10 body bytes were not captured"},
      {"chunked, decoded", head + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 0, 3,
       "abc", nullptr, nullptr},
      {"chunked, not decodable", head + "Transfer-Encoding: chunked\r\n\r\n9\r\nabc\r\n0\r\n\r\n",
       0, 13, nullptr, nullptr, "The chunked body could not be decoded"},
      {"Latin-1 text as base64", head + "\r\ncaf\xe9", 0, 4, "Y2Fm6Q==", "base64", nullptr},
      {"interim response first", "HTTP/1.1 100 Continue\r\n\r\n" + head + "\r\nok", 0, 2, "ok",
       nullptr, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ConversationRecord record = Record("GET http://a.test/ HTTP/1.1\r\n\r\n", row.response);
    record.responseTotal += row.uncaptured;
    const Json content = Entry(record)["response"]["content"];
    EXPECT_EQ(content["size"], row.size);
    EXPECT_EQ(content["mimeType"], "x");
    if (row.text != nullptr) {
      EXPECT_EQ(content["text"], row.text);
    } else {
      EXPECT_FALSE(content.contains("text"));
    }
    if (row.encoding != nullptr) {
      EXPECT_EQ(content["encoding"], row.encoding);
    } else {
      EXPECT_FALSE(content.contains("encoding"));
    }
    if (row.comment != nullptr) {
      EXPECT_EQ(content["comment"].get<std::string>().rfind(row.comment, 0), 0u)
          << content["comment"];
    } else {
      EXPECT_FALSE(content.contains("comment"));
    }
  }
}

TEST(HarBuilder, PostData) {
  const std::string header =
      "POST http://a.test/form HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 11\r\n\r\n";
  const Json whole = Entry(Record(header + "a=1&b=two%21", "HTTP/1.1 200 OK\r\n\r\n"));
  EXPECT_EQ(whole["request"]["postData"]["mimeType"], "application/x-www-form-urlencoded");
  EXPECT_EQ(whole["request"]["postData"]["text"], "a=1&b=two%21");
  EXPECT_EQ(whole["request"]["postData"]["params"], Json::array());
  EXPECT_EQ(whole["request"]["bodySize"], 12);

  // A binary upload: its bytes were counted but not captured.
  ConversationRecord binary = Record(header, "HTTP/1.1 200 OK\r\n\r\n");
  binary.requestTotal += 500;
  const Json post = Entry(binary)["request"]["postData"];
  EXPECT_EQ(post["text"], "");
  EXPECT_EQ(post["comment"].get<std::string>().rfind("500 of 500 body bytes", 0), 0u);
}

TEST(HarBuilder, NoResponse) {
  const Json entry = Entry(Record("GET http://gone.test/ HTTP/1.1\r\n\r\n", ""));
  EXPECT_EQ(entry["response"]["status"], 0);
  EXPECT_EQ(entry["response"]["content"]["size"], 0);
  EXPECT_EQ(entry["response"]["bodySize"], -1);
}

TEST(HarBuilder, TimingsAndStart) {
  ConversationRecord record =
      Record("GET http://a.test/ HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n");
  record.startTick = 1000;
  record.connectStartTick = 1004;
  record.connectedTick = 1030;
  record.firstResponseTick = 1100;
  record.lastTick = 1150;
  const Json entry = Entry(record);
  EXPECT_EQ(entry["timings"], Json::parse(R"({"blocked":-1,"dns":-1,"connect":26,"send":0,
                                              "wait":70,"receive":50,"ssl":-1})"));
  EXPECT_EQ(entry["time"], 146);  // the sum of the timings that apply
  EXPECT_EQ(entry["cache"], Json::object());
  EXPECT_EQ(entry["_relaywatchId"], 7);
  const std::string started = entry["startedDateTime"];
  EXPECT_TRUE(
      std::regex_match(started, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:01\.123[+-]\d\d:\d\d)")))
      << started;

  // No response: all of the time after connecting was waiting.
  record.response.clear();
  record.responseTotal = 0;
  record.responseStarted = false;
  const Json waited = Entry(record)["timings"];
  EXPECT_EQ(waited["wait"], 120);
  EXPECT_EQ(waited["receive"], 0);
}

TEST(HarBuilder, RecordsWithoutARequestLineAreLeftOut) {
  EXPECT_FALSE(HarEntryText(Record("", "")).has_value());
  EXPECT_FALSE(HarEntryText(Record("\r\n", "")).has_value());
  // What a tunnel carries on with after its first exchange is no request.
  EXPECT_FALSE(HarEntryText(Record("\x17\x03 \x03", "\x17")).has_value());
  ConversationRecord released = Record("GET / HTTP/1.1\r\n\r\n", "");
  released.released = true;
  EXPECT_FALSE(HarEntryText(released).has_value());
}

TEST(HarBuilder, DocumentFromConversationsAndFile) {
  ManualTicks ticks;
  ConversationStore store;
  std::vector<std::shared_ptr<Conversation>> conversations;
  for (int id = 2; id <= 4; ++id) {
    auto c = std::make_shared<Conversation>(id, store);
    store.AddConversation(c);
    const std::string request = "GET http://a.test/" + std::to_string(id) + " HTTP/1.1\r\n\r\n";
    c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
    c->MarkComplete();
    conversations.push_back(c);
  }
  // A connection that never sent a request line makes no entry.
  conversations.push_back(std::make_shared<Conversation>(5, store));

  const HarResult built = BuildHar(conversations, HarCreator{"Relaywatch", "9.9"});
  ASSERT_TRUE(built.ok) << built.error;
  EXPECT_EQ(built.entries, 3);
  const Json document = Json::parse(built.text);
  EXPECT_EQ(document["log"]["version"], "1.2");
  EXPECT_EQ(document["log"]["creator"], Json::parse(R"({"name":"Relaywatch","version":"9.9"})"));
  EXPECT_EQ(document["log"]["pages"], Json::array());
  ASSERT_EQ(document["log"]["entries"].size(), 3u);
  EXPECT_EQ(document["log"]["entries"][2]["request"]["url"], "http://a.test/4");

  const Json empty = Json::parse(BuildHar({}, HarCreator{}).text);
  EXPECT_EQ(empty["log"]["entries"], Json::array());

  TempDir dir;
  const std::string path = dir.path().string() + "/capture.har";
  ASSERT_TRUE(WriteHarFile(path, {}, HarCreator{}).ok);
  const HarResult written = WriteHarFile(path, conversations, HarCreator{});
  ASSERT_TRUE(written.ok) << written.error;
  EXPECT_EQ(Json::parse(testing::ReadFile(path))["log"]["entries"].size(), 3u);
  EXPECT_EQ(testing::FileMode(path), 0600);

  const HarResult failed = WriteHarFile(dir.path().string() + "/missing/x.har", conversations, {});
  EXPECT_FALSE(failed.ok);
  EXPECT_NE(failed.error.find("No such file or directory"), std::string::npos) << failed.error;
}

}  // namespace
}  // namespace rw::capture
