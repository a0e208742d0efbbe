// One row of the Detail page's list: a side of a conversation and the column values read when the
// list was built. Built on the user-interface thread from a store snapshot; owned by the page's
// list model.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/conversation_side.h"
#include "capture/conversation_store.h"

namespace rw::viewer {

struct DetailRow {
  explicit DetailRow(capture::ConversationSide shownSide) : side(std::move(shownSide)) {}

  capture::ConversationSide side;
  std::string firstLine;    // "Verb / Response"
  int32_t id = 0;           // shown on request rows only
  int64_t bytes = 0;        // requestTotal or responseTotal
  std::string connectTime;  // response rows only, like the next two
  std::string dataTime;
  std::string totalTime;

  bool IsRequest() const { return side.Side() == capture::Direction::kRequest; }
};

// The text a request row shows for a request line captured inside TLS: an origin-form target
// ("GET /path HTTP/1.1") gets the conversation's origin in front of it, so the row names the full
// URL. Without an origin, or with any other target, the line is returned as it is.
std::string RequestLineWithOrigin(std::string_view origin, std::string_view line);

// The rows for the store's conversations in store order: for each, a request row when request
// data was captured, then a response row when response data was. A conversation with neither
// gives no row. A request row shows its line through RequestLineWithOrigin. A conversation taken
// out of TLS that has a response but no request (the handshake with the browser failed, and the
// response is the note saying why) gets a request row "TLS <origin>" naming the host. The rows'
// sides still read the captured bytes unchanged. When memory runs out the rows built so far are
// returned.
std::vector<DetailRow> BuildDetailRows(const capture::ConversationStore& store);

}  // namespace rw::viewer
