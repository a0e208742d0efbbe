// "Log and Clear": writes every complete conversation to the two log files now and frees them.
// User-interface thread (the store's log pass takes its own locks).
#pragma once

#include <string>

namespace rw::capture {
class ConversationStore;
}

namespace rw::app {

struct LogNowMessage {
  bool written = false;
  std::string text;
};

// Runs a forced log pass and returns the message for the user: the two file names on success,
// "Log File failed" otherwise (the store has already named the file that would not open).
LogNowMessage LogNow(capture::ConversationStore& store);

}  // namespace rw::app
