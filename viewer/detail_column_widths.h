// How wide the Detail list's columns start: plain arithmetic over measured text widths, so the
// rule is tested without a window. User-interface thread; called by the Detail page.
#pragma once

#include <vector>

namespace rw::viewer {

// What one column needs, in pixels at the current font and screen.
struct ColumnNeed {
  int designWidth = 0;  // the column's width at 96 dots per inch, a minimum
  int heading = 0;      // the heading with its margins
  int widestValue = 0;  // the widest value the column is expected to show, with its margins
};

// Each column is as wide as the largest of its design width scaled to `dotsPerInch`, its heading
// and its widest value; the first column then takes whatever of `available` the columns leave.
std::vector<int> DetailColumnWidths(const std::vector<ColumnNeed>& needs, int dotsPerInch,
                                    int available);

}  // namespace rw::viewer
