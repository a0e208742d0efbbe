#include "proxy/host_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rw::proxy {
namespace {

std::string Name(int i) {
  return "host" + std::to_string(i) + ".test";
}

TEST(HostCache, FillsFortyThenReplacesRoundRobin) {
  HostCache cache;
  for (int i = 1; i <= 40; ++i) {
    cache.Insert(Name(i), static_cast<uint32_t>(i));
  }
  for (int i = 1; i <= 40; ++i) {
    EXPECT_EQ(cache.Lookup(Name(i)), static_cast<uint32_t>(i));
  }
  cache.Insert(Name(41), 41);  // replaces the first entry
  EXPECT_EQ(cache.Lookup(Name(1)), 0u);
  EXPECT_EQ(cache.Lookup(Name(41)), 41u);
  EXPECT_EQ(cache.Lookup(Name(2)), 2u);
  cache.Insert(Name(42), 42);  // then the second
  EXPECT_EQ(cache.Lookup(Name(2)), 0u);
  EXPECT_EQ(cache.Lookup(Name(3)), 3u);
  for (int i = 43; i <= 80; ++i) {
    cache.Insert(Name(i), static_cast<uint32_t>(i));
  }
  cache.Insert(Name(81), 81);  // position wrapped back to the first entry
  EXPECT_EQ(cache.Lookup(Name(41)), 0u);
  EXPECT_EQ(cache.Lookup(Name(42)), 42u);
}

TEST(HostCache, NamesAreExactAndLongNamesOrZeroAddressesAreNotCached) {
  HostCache cache;
  cache.Insert("Example.test", 7);
  EXPECT_EQ(cache.Lookup("example.test"), 0u);
  EXPECT_EQ(cache.Lookup("Example.test"), 7u);

  const std::string longest(HostCache::kMaxNameLength, 'a');
  const std::string tooLong(HostCache::kMaxNameLength + 1, 'b');
  cache.Insert(longest, 8);
  cache.Insert(tooLong, 9);
  EXPECT_EQ(cache.Lookup(longest), 8u);
  EXPECT_EQ(cache.Lookup(tooLong), 0u);

  cache.Insert("zero.test", 0);  // 0.0.0.0 is a failed resolution, never an entry
  cache.Insert("after.test", 10);
  EXPECT_EQ(cache.Lookup("after.test"), 10u);
}

}  // namespace
}  // namespace rw::proxy
