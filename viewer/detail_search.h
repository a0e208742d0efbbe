// Search on the Detail page: which rows' full texts contain a text, ignoring case, as runs of
// neighbouring rows so the list selects them in one step. User-interface thread.
#pragma once

#include <string_view>
#include <vector>

#include "viewer/detail_row.h"
#include "viewer/detail_selection.h"

namespace rw::viewer {

struct DetailSearchResult {
  std::vector<RowRun> runs;  // in list order, never touching each other
  int count = 0;             // rows matched
  int lastMatch = -1;        // where the focus mark ends; -1 when nothing matched
};

// Matches each row's full text as captured (line ends not repaired) against `pattern` with
// TextMatcher; an empty pattern matches nothing.
DetailSearchResult SearchDetailRows(const std::vector<DetailRow>& rows, std::string_view pattern);

}  // namespace rw::viewer
