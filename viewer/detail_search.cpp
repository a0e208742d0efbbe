#include "viewer/detail_search.h"

#include "viewer/case_folding.h"

namespace rw::viewer {

DetailSearchResult SearchDetailRows(const std::vector<DetailRow>& rows, std::string_view pattern) {
  DetailSearchResult result;
  TextMatcher matcher(pattern);
  const int rowCount = static_cast<int>(rows.size());
  int runStart = -1;
  for (int row = 0; row < rowCount; ++row) {
    if (matcher.Matches(rows[static_cast<size_t>(row)].side.FullText(false))) {
      ++result.count;
      result.lastMatch = row;
      if (runStart < 0) {
        runStart = row;
      }
    } else if (runStart >= 0) {
      result.runs.push_back({runStart, row - 1});
      runStart = -1;
    }
  }
  if (runStart >= 0) {
    result.runs.push_back({runStart, rowCount - 1});
  }
  return result;
}

}  // namespace rw::viewer
