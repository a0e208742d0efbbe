// The four counter texts of the Settings page, formed from the store's counters.
// Any thread; the counters are read with single atomic loads.
#pragma once

#include <string>

namespace rw::capture {
class ConversationStore;
}

namespace rw::app {

struct StatisticsTexts {
  std::string sent;      // "%d KB" of requestBytes / 1024
  std::string received;  // "%d KB" of responseBytes / 1024
  std::string sockets;   // "%d " of conversationCount, with its trailing blank
  std::string held;      // "%d KB" of heldBytes / 1024

  static StatisticsTexts From(const capture::ConversationStore& store);
};

}  // namespace rw::app
