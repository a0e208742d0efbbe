// Helpers for the capture tests: a recording notifier, file checks, a controllable tick source
// and a way to make one allocation fail; the temporary directory and file reading are shared.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_notifier.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace rw::capture::testing {

class FakeCaptureNotifier : public CaptureNotifier {
 public:
  void FatalError(const std::string& text) override {
    std::lock_guard guard(lock);
    fatalErrors.push_back(text);
  }
  void ShowMessage(const std::string& text) override {
    std::lock_guard guard(lock);
    messages.push_back(text);
  }
  void ShowClearedState() override { clearedCount.fetch_add(1); }
  void UpkeepDue() override { upkeepCount.fetch_add(1); }

  std::vector<std::string> FatalErrors() const {
    std::lock_guard guard(lock);
    return fatalErrors;
  }
  std::vector<std::string> Messages() const {
    std::lock_guard guard(lock);
    return messages;
  }
  int ClearedCount() const { return clearedCount.load(); }
  int UpkeepCount() const { return upkeepCount.load(); }

 private:
  mutable std::mutex lock;
  std::vector<std::string> fatalErrors;  // guarded by lock
  std::vector<std::string> messages;     // guarded by lock
  std::atomic<int> clearedCount{0};
  std::atomic<int> upkeepCount{0};
};

using rw::testing::ReadFile;
using rw::testing::TempDir;
bool FileExists(const std::string& path);
// Permission bits of the file, or -1 when it cannot be read.
int FileMode(const std::string& path);

// Makes NowTicks return the value set here until the object is destroyed.
class ManualTicks {
 public:
  ManualTicks();
  ~ManualTicks();
  void Set(uint32_t value);
};

}  // namespace rw::capture::testing

namespace rw::capture::testing {

// While alive, the next allocation on this thread of at least `minimumSize` bytes throws
// std::bad_alloc (once), so the memory-exhaustion paths can be driven.
class FailNextAllocation {
 public:
  explicit FailNextAllocation(size_t minimumSize);
  ~FailNextAllocation();
  bool Fired() const;
};

}  // namespace rw::capture::testing
