#include "app/log_pass_counter.h"

namespace rw::app {

bool LogPassCounter::Add(const capture::Conversation& conversation) {
  if (next != nullptr && !next->Add(conversation)) {
    return false;
  }
  ++inPass;
  return true;
}

void LogPassCounter::Commit() {
  written.fetch_add(inPass);
  inPass = 0;
  if (next != nullptr) {
    next->Commit();
  }
}

void LogPassCounter::Abandon() {
  inPass = 0;
  if (next != nullptr) {
    next->Abandon();
  }
}

}  // namespace rw::app
