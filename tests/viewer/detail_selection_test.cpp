#include "viewer/detail_selection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "viewer/detail_search.h"

namespace rw::viewer {
namespace {

using capture::Conversation;
using capture::ConversationStore;

// One complete exchange per text: rows 2i (request) and 2i+1 (response).
std::vector<std::shared_ptr<Conversation>> AddExchanges(ConversationStore& store,
                                                        const std::vector<std::string>& texts) {
  std::vector<std::shared_ptr<Conversation>> added;
  for (const std::string& text : texts) {
    auto c = std::make_shared<Conversation>(static_cast<int32_t>(added.size() + 1), store);
    store.AddConversation(c);
    const std::string request = "GET http://a/ HTTP/1.1\r\nX: " + text + "\r\n\r\n";
    const std::string response = "HTTP/1.1 200 OK\r\nX: " + text + "\r\n\r\n";
    c->AddRequestData(request.data(), static_cast<int32_t>(request.size()));
    c->AddResponseData(response.data(), static_cast<int32_t>(response.size()));
    added.push_back(c);
  }
  return added;
}

TEST(DetailSelection, RowsAndConversationsOfASelection) {
  EXPECT_EQ(RowsOfRuns({{3, 4}, {0, 1}, {1, 2}}), (std::vector<int>{0, 1, 2, 3, 4}));
  ConversationStore store;
  const auto added = AddExchanges(store, {"one", "two"});
  const std::vector<DetailRow> rows = BuildDetailRows(store);
  // Both rows of the first exchange and the response of the second: two conversations.
  EXPECT_EQ(SelectionConversations(rows, {0, 1, 3}, store), added);
  EXPECT_EQ(SelectionConversations(rows, {}, store), added);  // nothing selected: all
  EXPECT_EQ(SelectionText(rows, {1, 0}, false),  // in the order given, each ended by CR LF
            rows[1].side.FullText(false) + "\r\n" + rows[0].side.FullText(false) + "\r\n");
  EXPECT_TRUE(CanCopyAsCurl(rows, 2) && !CanCopyAsCurl(rows, 1) && !CanCopyAsCurl(rows, 4));
}

TEST(DetailSearch, MatchesBecomeRunsOfNeighbouringRows) {
  struct Case {
    std::vector<std::string> texts;  // an exchange with "Needle" matches in both its rows
    std::vector<RowRun> runs;
    int count;
    int lastMatch;
  };
  const Case cases[] = {
      {{"hay", "hay"}, {}, 0, -1},
      {{"Needle", "hay"}, {{0, 1}}, 2, 1},
      {{"Needle", "hay", "NEEDLE"}, {{0, 1}, {4, 5}}, 4, 5},
      {{"hay", "needle", "needle"}, {{2, 5}}, 4, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ConversationStore store;
    AddExchanges(store, c.texts);
    const DetailSearchResult found = SearchDetailRows(BuildDetailRows(store), "nEEdle");
    EXPECT_EQ(found.runs, c.runs);
    EXPECT_EQ(found.count, c.count);
    EXPECT_EQ(found.lastMatch, c.lastMatch);
  }
}

}  // namespace
}  // namespace rw::viewer
