// Holds the notifier the store was given, shared by the store and every conversation it made, so
// a conversation that outlives the store (a page still holds it) reports exhausted memory into a
// slot that still exists; once the store is gone the slot is empty and nobody is told. Any thread.
#pragma once

#include <atomic>

#include "capture/capture_notifier.h"

namespace rw::capture {

class NotifierSlot {
 public:
  void Set(CaptureNotifier* notifier) { current.store(notifier); }  // not owned
  CaptureNotifier* Get() const { return current.load(); }

 private:
  std::atomic<CaptureNotifier*> current{nullptr};  // read without a lock by every thread
};

}  // namespace rw::capture
