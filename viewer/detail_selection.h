// What a selection of the Detail list stands for: its row numbers, the text Show puts beside the
// list, the conversations a HAR export writes, the rows Copy as curl applies to. Pure functions
// over the rows a refresh built; user-interface thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/conversation.h"
#include "capture/conversation_store.h"
#include "viewer/detail_row.h"

namespace rw::viewer {

// Rows `first` to `last`, both included, as the list's selection ranges give them.
struct RowRun {
  int first = 0;
  int last = 0;
  bool operator==(const RowRun&) const = default;
};

// Every row of `runs` once, in list order; runs may overlap or come in any order.
std::vector<int> RowsOfRuns(const std::vector<RowRun>& runs);

// The full texts of the `selected` rows, in the order given, each followed by CR LF; line ends
// repaired when `repair` is set. A row whose text cannot be built for want of memory is left out
// and the others are still shown.
std::string SelectionText(const std::vector<DetailRow>& rows, const std::vector<int>& selected,
                          bool repair);

// The conversations of the `selected` rows, each once (its request and response rows give one),
// in list order, skipping those the store has dropped; with nothing selected, every conversation
// the store holds.
std::vector<std::shared_ptr<capture::Conversation>> SelectionConversations(
    const std::vector<DetailRow>& rows, const std::vector<int>& selected,
    const capture::ConversationStore& store);

// Only a request row has a request to repeat as a curl command.
bool CanCopyAsCurl(const std::vector<DetailRow>& rows, int row);

}  // namespace rw::viewer
