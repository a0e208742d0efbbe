#include "platform/threads.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <future>
#include <limits>
#include <memory>

namespace rw::platform {
namespace {

constexpr auto kPatience = std::chrono::seconds(10);

// Keeps a promise that is kept when the object is destroyed: it tells when a thread has let go of
// what its body captured.
class DestroyedSignal {
 public:
  explicit DestroyedSignal(std::promise<void>& signal) : destroyed(signal) {}
  ~DestroyedSignal() { destroyed.set_value(); }
  DestroyedSignal(const DestroyedSignal&) = delete;
  DestroyedSignal& operator=(const DestroyedSignal&) = delete;

 private:
  std::promise<void>& destroyed;
};

TEST(StartThread, DetachedThreadRunsItsBodyAndThenFreesIt) {
  std::promise<void> ran;
  std::promise<void> destroyed;
  std::future<void> ranFuture = ran.get_future();
  std::future<void> destroyedFuture = destroyed.get_future();
  auto signal = std::make_shared<DestroyedSignal>(destroyed);
  ThreadStartResult started =
      StartThread({.kind = ThreadKind::kDetached}, [&ran, signal] { ran.set_value(); });
  signal.reset();  // the body's copy is now the only one
  ASSERT_TRUE(started.Ok()) << started.errorNumber;
  EXPECT_FALSE(started.value.Joinable());
  EXPECT_EQ(ranFuture.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(destroyedFuture.wait_for(kPatience), std::future_status::ready);
}

TEST(StartThread, JoinableThreadGetsTheStackSizeAskedFor) {
  constexpr size_t kAsked = 4 * 1024 * 1024;
  size_t given = 0;
  {
    ThreadStartResult started =
        StartThread({.kind = ThreadKind::kJoinable, .stackBytes = kAsked}, [&given] {
          pthread_attr_t attributes;
          if (::pthread_getattr_np(::pthread_self(), &attributes) == 0) {
            (void)::pthread_attr_getstacksize(&attributes, &given);
            ::pthread_attr_destroy(&attributes);
          }
        });
    ASSERT_TRUE(started.Ok()) << started.errorNumber;
  }
  EXPECT_GE(given, kAsked);
}

// Both failures are real ones from the system: a stack below the minimum is refused when the
// attributes are set, and one the size of the address space cannot be mapped by pthread_create.
TEST(StartThread, FailedStartIsAResultAndTheBodyIsFreedWithoutRunning) {
  const size_t sizes[] = {1, std::numeric_limits<size_t>::max() / 2};
  for (const ThreadKind kind : {ThreadKind::kJoinable, ThreadKind::kDetached}) {
    for (const size_t stackBytes : sizes) {
      SCOPED_TRACE(testing::Message()
                   << "detached " << (kind == ThreadKind::kDetached) << ", stack " << stackBytes);
      auto captured = std::make_shared<int>(0);
      bool ran = false;
      ThreadStartResult started =
          StartThread({.kind = kind, .stackBytes = stackBytes}, [&ran, captured] { ran = true; });
      EXPECT_FALSE(started.Ok());
      EXPECT_NE(started.errorNumber, 0);
      EXPECT_FALSE(started.value.Joinable());
      EXPECT_EQ(captured.use_count(), 1);
      EXPECT_FALSE(ran);
    }
  }
}

}  // namespace
}  // namespace rw::platform
