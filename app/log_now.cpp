#include "app/log_now.h"

#include "capture/conversation_store.h"

namespace rw::app {

std::string LogNow(capture::ConversationStore& store) {
  if (!store.WriteLogs(true)) {
    return "Log File failed";
  }
  return "2 Log files saved:  \n" + store.TextLogName() + "  (Full Text)\n" + store.CsvLogName() +
         "  (Stats)";
}

}  // namespace rw::app
