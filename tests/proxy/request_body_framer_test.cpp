#include "proxy/request_body_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rw::proxy {
namespace {

LineList Header(std::vector<std::string> fields) {
  LineList lines = {"PUT /r HTTP/1.1\r\n"};
  for (std::string& field : fields) {
    lines.push_back(field + "\r\n");
  }
  lines.back() += "\r\n";
  return lines;
}

// Feeds `bytes` split into reads of `step` bytes and returns how many the body took.
size_t BodyLength(const LineList& lines, bool mayCarryBody, const std::string& bytes, size_t step) {
  RequestBodyFramer framer;
  framer.Start(lines, mayCarryBody);
  size_t taken = 0;
  for (size_t at = 0; at < bytes.size(); at += step) {
    const std::string read = bytes.substr(at, step);
    const size_t n = framer.Take(read);
    taken += n;
    if (n < read.size()) {
      break;  // the body ended inside this read
    }
  }
  return taken;
}

TEST(RequestBodyFramer, FindsTheBodyEndWhateverTheReads) {
  struct Row {
    std::string name;
    std::vector<std::string> fields;
    std::string body;  // the body; "NEXT" follows it
    BodyFraming framing;
  };
  const std::vector<Row> rows = {
      {"length", {"Content-Length: 11"}, "a\r\n\r\nb\r\n\r\nc", BodyFraming::kLength},
      {"length with spaces, any case", {"content-LENGTH:   3  "}, "abc", BodyFraming::kLength},
      {"chunked", {"Transfer-Encoding: chunked"}, "5\r\nhello\r\n0\r\n\r\n", BodyFraming::kChunked},
      {"chunked, extension, trailer, upper-case size",
       {"Transfer-Encoding: chunked"},
       "A;x=1\r\n0123456789\r\n3\r\n\r\n\r\r\n0\r\nX-Sum: 1\r\n\r\n",
       BodyFraming::kChunked},
      {"chunked over a length",
       {"Content-Length: 2", "Transfer-Encoding: gzip, Chunked"},
       "1\n\n\n0\n\n",
       BodyFraming::kChunked},
      {"zero length", {"Content-Length: 0"}, "", BodyFraming::kNone},
      {"no framing, bodyless method", {"Host: a"}, "", BodyFraming::kNone},
  };
  for (const Row& row : rows) {
    for (size_t step = 1; step <= row.body.size() + 4; ++step) {
      SCOPED_TRACE(row.name + ", reads of " + std::to_string(step));
      RequestBodyFramer framer;
      framer.Start(Header(row.fields), false);
      EXPECT_EQ(framer.Framing(), row.framing);
      EXPECT_EQ(BodyLength(Header(row.fields), false, row.body + "NEXT", step), row.body.size());
    }
  }
}

TEST(RequestBodyFramer, UnreadableFramingPassesEverythingThrough) {
  struct Row {
    std::string name;
    std::vector<std::string> fields;
    bool mayCarryBody;
    std::string bytes;
  };
  const std::vector<Row> rows = {
      {"lengths that disagree", {"Content-Length: 3", "Content-Length: 4"}, false, "abcdefg"},
      {"length not a number", {"Content-Length: 3x"}, false, "abcdefg"},
      {"encoding other than chunked", {"Transfer-Encoding: gzip"}, false, "abcdefg"},
      {"chunk size not hex", {"Transfer-Encoding: chunked"}, false, "zz\r\nabc"},
      {"chunk data not ended by a line end", {"Transfer-Encoding: chunked"}, false, "1\r\nab\r\n"},
      {"chunk size beyond 64 bits", {"Transfer-Encoding: chunked"}, false, "11111111111111111\r\n"},
      {"no framing, method that may carry a body", {"Host: a"}, true, "abcdefg"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RequestBodyFramer framer;
    framer.Start(Header(row.fields), row.mayCarryBody);
    EXPECT_EQ(framer.Take(row.bytes), row.bytes.size());
    EXPECT_EQ(framer.Framing(), BodyFraming::kUnframed);
    EXPECT_TRUE(framer.InBody());
  }
}

}  // namespace
}  // namespace rw::proxy
