#include "app/own_address_upstream.h"

#include <gtest/gtest.h>

#include "proxy/proxy_settings.h"

namespace rw::app {
namespace {

TEST(OwnAddressUpstream, RefusesOnlyTheListeningAddressItself) {
  struct Row {
    const char* host;
    int32_t proxyPort;
    bool refused;
  };
  const Row rows[] = {
      {"127.0.0.1", 8010, true},  {"localhost", 8010, true},
      {"0.0.0.0", 8010, true},  // connects to this machine
      {"127.0.0.1", 8011, false}, {"localhost", 3128, false},
      {"10.1.2.3", 8010, false},  {"127.0.0.2", 8010, false},  // the listener takes 127.0.0.1 only
      {"", 8010, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.host) + ":" + std::to_string(row.proxyPort));
    proxy::ProxySettings settings;
    settings.listenPort = 8010;
    settings.proxyAddress = row.host;
    settings.proxyPort = row.proxyPort;
    EXPECT_EQ(!OwnAddressUpstreamProblem(settings).empty(), row.refused);
  }
}

}  // namespace
}  // namespace rw::app
