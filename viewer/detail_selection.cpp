#include "viewer/detail_selection.h"

#include <algorithm>
#include <new>
#include <set>

namespace rw::viewer {

std::vector<int> RowsOfRuns(const std::vector<RowRun>& runs) {
  std::vector<int> rows;
  for (const RowRun& run : runs) {
    for (int row = run.first; row <= run.last; ++row) {
      rows.push_back(row);
    }
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

std::string SelectionText(const std::vector<DetailRow>& rows, const std::vector<int>& selected,
                          bool repair) {
  std::string shown;
  for (const int row : selected) {
    try {
      std::string rowText = rows.at(static_cast<size_t>(row)).side.FullText(repair);
      rowText += "\r\n";
      shown += rowText;
    } catch (const std::bad_alloc&) {
      // This row's text could not be built: the others are still shown.
    }
  }
  return shown;
}

std::vector<std::shared_ptr<capture::Conversation>> SelectionConversations(
    const std::vector<DetailRow>& rows, const std::vector<int>& selected,
    const capture::ConversationStore& store) {
  if (selected.empty()) {
    return store.Snapshot();
  }
  std::vector<std::shared_ptr<capture::Conversation>> conversations;
  std::set<const capture::Conversation*> seen;
  for (const int row : selected) {
    std::shared_ptr<capture::Conversation> conversation =
        rows.at(static_cast<size_t>(row)).side.Get();
    if (conversation != nullptr && seen.insert(conversation.get()).second) {
      conversations.push_back(std::move(conversation));
    }
  }
  return conversations;
}

bool CanCopyAsCurl(const std::vector<DetailRow>& rows, int row) {
  return row >= 0 && static_cast<size_t>(row) < rows.size() &&
         rows[static_cast<size_t>(row)].IsRequest();
}

}  // namespace rw::viewer
