#include "app/statistics_texts.h"

#include "capture/conversation_store.h"

namespace rw::app {
namespace {

// Kilobytes, truncated toward zero. The counters are 64-bit, so the text is too: a long session
// past 2 TB must not show a wrapped number.
std::string Kilobytes(int64_t bytes) {
  return std::to_string(bytes / 1024) + " KB";
}

}  // namespace

StatisticsTexts StatisticsTexts::From(const capture::ConversationStore& store) {
  return StatisticsTexts{
      Kilobytes(store.RequestBytes()),
      Kilobytes(store.ResponseBytes()),
      std::to_string(store.ConversationCount()) + " ",
      Kilobytes(store.HeldBytes()),
  };
}

}  // namespace rw::app
