#include "viewer/detail_row.h"

#include <new>

namespace rw::viewer {

std::string RequestLineWithOrigin(std::string_view origin, std::string_view line) {
  const size_t space = line.find(' ');
  if (origin.empty() || space == std::string_view::npos || space + 1 >= line.size() ||
      line[space + 1] != '/') {
    return std::string(line);
  }
  std::string shown;
  shown.reserve(line.size() + origin.size());
  shown.append(line.substr(0, space + 1));
  shown.append(origin);
  shown.append(line.substr(space + 1));
  return shown;
}

std::vector<DetailRow> BuildDetailRows(const capture::ConversationStore& store) {
  using capture::ConversationSide;
  std::vector<DetailRow> rows;
  const std::vector<std::shared_ptr<capture::Conversation>> conversations = store.Snapshot();
  try {
    rows.reserve(conversations.size() * 2);
    for (const std::shared_ptr<capture::Conversation>& conversation : conversations) {
      const std::string& origin = conversation->Origin();
      if (conversation->RequestDataSize() > 0) {
        DetailRow row(ConversationSide(capture::Direction::kRequest, conversation));
        row.firstLine = RequestLineWithOrigin(origin, row.side.FirstLine());
        row.id = conversation->GetId();
        row.bytes = conversation->RequestTotal();
        rows.push_back(std::move(row));
      } else if (!origin.empty() && conversation->ResponseDataSize() > 0) {
        // Nothing came through TLS from the browser: the row names the host the response's
        // note is about.
        DetailRow row(ConversationSide(capture::Direction::kRequest, conversation));
        row.firstLine = "TLS " + origin;
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

}  // namespace rw::viewer
