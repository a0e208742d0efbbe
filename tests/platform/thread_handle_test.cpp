#include "platform/thread_handle.h"

#include <gtest/gtest.h>

#include <future>
#include <utility>

#include "platform/threads.h"

namespace rw::platform {
namespace {

// A joinable thread that waits until `release` is kept, then sets `finished`. A plain bool: the
// join is what makes reading it afterwards safe (ThreadSanitizer checks that too).
ThreadHandle StartHeldThread(std::shared_future<void> release, bool& finished) {
  ThreadStartResult started = StartThread({.kind = ThreadKind::kJoinable}, [release, &finished] {
    release.wait();
    finished = true;
  });
  EXPECT_TRUE(started.Ok()) << started.errorNumber;
  return std::move(started.value);
}

TEST(ThreadHandle, DestructionWaitsForTheThreadToEnd) {
  std::promise<void> release;
  bool finished = false;
  {
    ThreadHandle handle = StartHeldThread(release.get_future().share(), finished);
    EXPECT_TRUE(handle.Joinable());
    release.set_value();
  }
  EXPECT_TRUE(finished);
}

TEST(ThreadHandle, JoinWaitsOnceAndLeavesTheHandleEmpty) {
  std::promise<void> release;
  bool finished = false;
  ThreadHandle handle = StartHeldThread(release.get_future().share(), finished);
  release.set_value();
  handle.Join();
  EXPECT_TRUE(finished);
  EXPECT_FALSE(handle.Joinable());
  handle.Join();  // a second join has no thread to wait for
}

TEST(ThreadHandle, MovingHandsTheThreadOverAndAssigningJoinsTheOldOne) {
  std::promise<void> releaseFirst;
  std::promise<void> releaseSecond;
  bool firstFinished = false;
  bool secondFinished = false;
  ThreadHandle first = StartHeldThread(releaseFirst.get_future().share(), firstFinished);
  ThreadHandle moved(std::move(first));
  EXPECT_FALSE(first.Joinable());
  EXPECT_TRUE(moved.Joinable());
  releaseFirst.set_value();
  moved = StartHeldThread(releaseSecond.get_future().share(), secondFinished);
  EXPECT_TRUE(firstFinished);
  releaseSecond.set_value();
  moved.Join();
  EXPECT_TRUE(secondFinished);
}

}  // namespace
}  // namespace rw::platform
