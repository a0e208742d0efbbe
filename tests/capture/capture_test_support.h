// Shared helpers for the capture tests: a recording notifier, a temporary directory and a
// controllable tick source.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_notifier.h"

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

  std::vector<std::string> FatalErrors() const {
    std::lock_guard guard(lock);
    return fatalErrors;
  }
  std::vector<std::string> Messages() const {
    std::lock_guard guard(lock);
    return messages;
  }
  int ClearedCount() const { return clearedCount.load(); }

 private:
  mutable std::mutex lock;
  std::vector<std::string> fatalErrors;  // guarded by lock
  std::vector<std::string> messages;     // guarded by lock
  std::atomic<int> clearedCount{0};
};

// A fresh directory under $TMPDIR (or /tmp), removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path; }

 private:
  std::string path;
};

std::string ReadFile(const std::string& path);
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
