#include "headless/headless_runner.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "tests/support/busy_port.h"
#include "tests/support/temp_dir.h"

namespace rw::headless {
namespace {

// The run blocks the stop signals on the calling thread; the test gives the mask back.
class SavedSignalMask {
 public:
  SavedSignalMask() { pthread_sigmask(SIG_SETMASK, nullptr, &saved); }
  ~SavedSignalMask() { pthread_sigmask(SIG_SETMASK, &saved, nullptr); }

 private:
  sigset_t saved;
};

using testing::BusyPort;

TEST(HeadlessRunner, RefusesAnUpstreamProxyThatIsItsOwnAddressWithStatusTwo) {
  testing::TempDir dir;
  ::setenv("RELAYWATCH_CONFIG_DIR", dir.path().c_str(), 1);
  BusyPort busy;
  ASSERT_NE(busy.port, 0);
  for (const std::string host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    app::CommandLine options;
    ASSERT_EQ(options.Parse({"--headless", "-q", "--port", std::to_string(busy.port), "--proxy",
                             host + ":" + std::to_string(busy.port)}),
              app::CommandLine::ParseResult::kRun);
    SavedSignalMask mask;
    HeadlessRunner runner(options);
    EXPECT_EQ(runner.Run(), 2);
  }
  ::unsetenv("RELAYWATCH_CONFIG_DIR");
}

}  // namespace
}  // namespace rw::headless
