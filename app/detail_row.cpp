#include "app/detail_row.h"

#include <new>

namespace rw::app {

std::vector<DetailRow> BuildDetailRows(const capture::ConversationStore& store) {
  using capture::ConversationSide;
  std::vector<DetailRow> rows;
  const std::vector<std::shared_ptr<capture::Conversation>> conversations = store.Snapshot();
  try {
    rows.reserve(conversations.size() * 2);
    for (const std::shared_ptr<capture::Conversation>& conversation : conversations) {
      if (conversation->RequestDataSize() > 0) {
        DetailRow row(ConversationSide(capture::Direction::kRequest, conversation));
        row.firstLine = row.side.FirstLine();
        row.id = conversation->GetId();
        row.bytes = conversation->RequestTotal();
        rows.push_back(std::move(row));
      }
      if (conversation->ResponseDataSize() > 0) {
        DetailRow row(ConversationSide(capture::Direction::kResponse, conversation));
        row.firstLine = row.side.FirstLine();
        row.id = conversation->GetId();
        row.bytes = conversation->ResponseTotal();
        row.connectTime = conversation->ConnectTimeText();
        row.dataTime = conversation->RetrieveTimeText();
        row.totalTime = conversation->TotalTimeText();
        rows.push_back(std::move(row));
      }
    }
  } catch (const std::bad_alloc&) {
    // The rows built so far stay; the rest of the list is left out.
  }
  return rows;
}

}  // namespace rw::app
