#include "text/header_value.h"

#include <gtest/gtest.h>

namespace rw::text {
namespace {

// Names and values are covered where headers are read (RequestBodyFramer, ResponseClassification).
TEST(HeaderValue, ChunkedOnlyAsTheLastCoding) {
  for (const char* codings : {"chunked", "gzip, Chunked", "gzip,chunked \r\n"}) {
    EXPECT_TRUE(LastCodingIsChunked(codings)) << codings;
  }
  for (const char* codings : {"chunked, gzip", "gzip", "x-chunked", ""}) {
    EXPECT_FALSE(LastCodingIsChunked(codings)) << codings;
  }
}

}  // namespace
}  // namespace rw::text
