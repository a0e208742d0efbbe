#include "app/log_now.h"

#include "capture/conversation_store.h"

namespace rw::app {

LogNowMessage LogNow(capture::ConversationStore& store) {
  if (!store.WriteLogs(true)) {
    return {false, "Log File failed"};
  }
  return {true, "2 Log files saved:  \n" + store.TextLogName() + "  (Full Text)\n" +
                    store.CsvLogName() + "  (Stats)"};
}

}  // namespace rw::app
