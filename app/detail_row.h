// One row of the Detail page's list: a side of a conversation and the column values read when the
// list was built. Built on the user-interface thread from a store snapshot; owned by the page's
// list model.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "capture/conversation_side.h"
#include "capture/conversation_store.h"

namespace rw::app {

struct DetailRow {
  explicit DetailRow(capture::ConversationSide side) : side(std::move(side)) {}

  capture::ConversationSide side;
  std::string firstLine;    // "Verb / Response"
  int32_t id = 0;           // shown on request rows only
  int64_t bytes = 0;        // requestTotal or responseTotal
  std::string connectTime;  // response rows only, like the next two
  std::string dataTime;
  std::string totalTime;

  bool IsRequest() const { return side.Side() == capture::Direction::kRequest; }
};

// The rows for the store's conversations in store order: for each, a request row when request
// data was captured, then a response row when response data was. A conversation with neither
// gives no row. When memory runs out the rows built so far are returned.
std::vector<DetailRow> BuildDetailRows(const capture::ConversationStore& store);

}  // namespace rw::app
