// Browser side: header end detection over split reads, header split, request-line parse, the
// rewrite of the forwarded header and where the body after it ends, as the connection runs them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/read_splitter.h"
#include "proxy/byte_buffer.h"
#include "proxy/header_end_scanner.h"
#include "proxy/header_text.h"
#include "proxy/request_body_framer.h"
#include "proxy/request_line.h"

using namespace rw::proxy;

namespace {

using rw::fuzz::Check;

void CheckRequestLine(std::string_view line) {
  RequestLine request = ParseRequestLine(line);
  if (!request.threeTokens) {
    Check(request.method.empty() && request.target.empty() && request.version.empty() &&
          request.hostAndPort.empty() && request.path.empty() && request.host.empty());
    return;
  }
  Check(!request.method.empty() && !request.version.empty());
  Check(request.port >= -1 && request.port <= 65535);
  Check(request.path.empty() || request.path.front() == '/');
  std::string origin = OriginFormLine(request);
  Check(origin.size() >= 2 && origin.compare(origin.size() - 2, 2, "\r\n") == 0);
  HasBodylessMethodPrefix(origin);
}

// The body after the first header must end at the same byte whether it is taken in one piece or
// in the reads the input names.
void CheckBodyFraming(const uint8_t* data, size_t size) {
  rw::fuzz::ReadSplitter reads(data, size);
  const std::string_view all = reads.All();
  const size_t end = HeaderEndLength(all);
  if (end == 0) {
    return;
  }
  ByteBuffer header;
  header.Append(all.substr(0, end));
  LineList lines;
  Check(SplitRequestHeader(header, GzipOffers::kKeep, lines));
  const bool mayCarryBody = (reads.Flags() & 2) != 0;
  const std::string_view body = all.substr(end);
  RequestBodyFramer whole;
  whole.Start(lines, mayCarryBody);
  const size_t wholeTaken = whole.Take(body);
  Check(wholeTaken <= body.size());
  Check(wholeTaken == body.size() || !whole.InBody());
  // The same read sizes, applied to the body alone.
  std::vector<uint8_t> bodyInput(data, data + (size - all.size()));
  bodyInput.insert(bodyInput.end(), body.begin(), body.end());
  rw::fuzz::ReadSplitter bodyReads(bodyInput.data(), bodyInput.size());
  RequestBodyFramer pieces;
  pieces.Start(lines, mayCarryBody);
  size_t taken = 0;
  while (!bodyReads.Done()) {
    bool mark = false;
    const std::string_view piece = bodyReads.Next(&mark);
    const size_t n = pieces.Take(piece);
    Check(n <= piece.size());
    taken += n;
    if (n < piece.size()) {
      break;
    }
  }
  Check(taken == wholeTaken);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckBodyFraming(data, size);
  rw::fuzz::ReadSplitter reads(data, size);
  const bool dropGzip = (reads.Flags() & 1) != 0;
  ByteBuffer buffer;
  HeaderEndScanner scanner;
  size_t fed = 0;
  while (!reads.Done()) {
    bool mark = false;
    std::string_view read = reads.Next(&mark);
    buffer.Append(read);
    fed += read.size();
    const size_t end = HeaderEndLength(buffer.View());
    // The incremental scan must agree with a scan of the whole buffer after every read.
    Check(scanner.Found(buffer) == (end != 0));
    if (end == 0) {
      continue;
    }
    const std::string header(buffer.View().substr(0, end));
    const size_t before = buffer.Size();
    LineList lines;
    Check(SplitRequestHeader(buffer, dropGzip ? GzipOffers::kDrop : GzipOffers::kKeep, lines));
    scanner.Reset();
    Check(buffer.Size() == before - end);
    std::string joined = JoinLines(lines);
    if (!dropGzip) {
      Check(joined == header);
    } else {
      Check(joined.size() <= header.size());
    }
    for (const std::string& line : lines) {
      Check(!line.empty());
    }
    if (!lines.empty()) {
      CheckRequestLine(lines.front());
      lines.front() = OriginFormLine(ParseRequestLine(lines.front()));
      HasBodylessMethodPrefix(lines.front());
    }
    std::string text = JoinLines(lines);
    TerminateHeaderText(text);
    Check(text.empty() || (text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0));
  }
  Check(fed == reads.All().size());
  CheckRequestLine(reads.All());
  return 0;
}
