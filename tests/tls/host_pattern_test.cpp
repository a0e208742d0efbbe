#include "tls/host_pattern.h"

#include <gtest/gtest.h>

#include "tls/host_name.h"

namespace rw::tls {
namespace {

TEST(HostPattern, MatchesExactNamesAndSubdomainWildcards) {
  const HostPatternList::ParseResult parsed =
      HostPatternList::Parse(" Pinned.Example.COM , *.bank.example., 10.0.0.1,[::1],,");
  ASSERT_TRUE(parsed.Ok()) << parsed.error;
  struct Row {
    const char* host;
    bool kept;
  };
  const Row rows[] = {
      {"pinned.example.com", true},
      {"PINNED.example.com.", true},
      {"www.pinned.example.com", false},  // an exact name covers itself only
      {"example.com", false},
      {"bank.example", false},  // a wildcard leaves the domain itself inspected
      {"www.bank.example", true},
      {"a.b.bank.example", true},
      {"WWW.Bank.Example.", true},
      {"notbank.example", false},
      {"bank.example.evil", false},
      {"10.0.0.1", true},
      {"10.0.0.2", false},
      {"::1", true},
      {"[::1]", true},
      {"", false},
      {"a b", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.host);
    EXPECT_EQ(parsed.patterns.Matches(row.host), row.kept);
  }
}

TEST(HostPattern, EmptyListKeepsNothing) {
  for (const char* text : {"", " ", ",", " , ,"}) {
    SCOPED_TRACE(text);
    const HostPatternList::ParseResult parsed = HostPatternList::Parse(text);
    ASSERT_TRUE(parsed.Ok());
    EXPECT_TRUE(parsed.patterns.Empty());
    EXPECT_FALSE(parsed.patterns.Matches("example.com"));
  }
}

TEST(HostPattern, RejectsEntriesThatAreNotHostsNamingThem) {
  for (const char* entry : {"*", "*.", "a*.example.com", "*example.com", "**.example.com",
                            "*.*.example.com", "ex ample.com", "*.10.0.0.1", "a..b", "-/x"}) {
    SCOPED_TRACE(entry);
    const HostPatternList::ParseResult parsed =
        HostPatternList::Parse(std::string("good.example,") + entry);
    EXPECT_FALSE(parsed.Ok());
    EXPECT_NE(parsed.error.find(std::string("\"") + entry + "\""), std::string::npos)
        << parsed.error;
    EXPECT_FALSE(parsed.patterns.Matches("good.example"));
  }
}

TEST(HostName, CanonicalFormIsLowerCaseWithoutTrailingDotOrBrackets) {
  struct Row {
    const char* in;
    const char* out;  // nullptr: refused
    bool ip;
  };
  const Row rows[] = {
      {"Example.COM", "example.com", false},
      {"example.com.", "example.com", false},
      {"under_score.example", "under_score.example", false},
      {"xn--bcher-kva.example", "xn--bcher-kva.example", false},
      {"192.168.0.1", "192.168.0.1", true},
      {"[2001:DB8::1]", "2001:db8::1", true},
      {"2001:db8::1", "2001:db8::1", true},
      {"::ffff:1.2.3.4", "::ffff:1.2.3.4", true},
      {"256.1.1.1", "256.1.1.1", false},  // not an address, but a valid (numeric) name
      {"1.2.3.4x", "1.2.3.4x", false},
      // Read by the resolver as 127.0.0.1, by certificates otherwise (or as a name).
      {"0177.0.0.1", nullptr, false},
      {"127.0.0.01", nullptr, false},
      {"127.1", nullptr, false},
      {"0x7f000001", nullptr, false},
      {"example..com", nullptr, false},
      {".example.com", nullptr, false},
      {"example.com..", nullptr, false},
      {"exa mple.com", nullptr, false},
      {"[1.2.3.4]", nullptr, false},
      {"1:2:3", nullptr, false},
      {"[]", nullptr, false},
      {"", nullptr, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in);
    const std::optional<CanonicalHost> host = CanonicalHostName(row.in);
    if (row.out == nullptr) {
      EXPECT_FALSE(host.has_value());
      continue;
    }
    ASSERT_TRUE(host.has_value());
    EXPECT_EQ(host->name, row.out);
    EXPECT_EQ(host->ipLiteral, row.ip);
  }
}

}  // namespace
}  // namespace rw::tls
