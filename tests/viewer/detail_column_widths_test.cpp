#include "viewer/detail_column_widths.h"

#include <gtest/gtest.h>

#include <vector>

namespace rw::viewer {
namespace {

TEST(DetailColumnWidths, EachColumnFitsItsHeadingAndValueAndTheFirstTakesTheRest) {
  const struct {
    const char* name;
    std::vector<ColumnNeed> needs;
    int dpi;
    int available;
    std::vector<int> widths;
  } rows[] = {
      {"design widths when the text is narrower",
       {{110, 60, 90}, {50, 20, 40}, {80, 70, 50}},
       96,
       0,
       {110, 50, 80}},
      {"a heading or a value wider than the design",
       {{110, 60, 90}, {50, 20, 56}, {80, 86, 50}},
       96,
       0,
       {110, 56, 86}},
      {"the design widths scale with the screen, rounded up",
       {{110, 0, 0}, {50, 0, 0}, {80, 0, 0}},
       144,
       0,
       {165, 75, 120}},
      {"a little denser than 96 never shrinks a column", {{50, 0, 0}}, 97, 0, {51}},
      {"spare width goes to the first column",
       {{110, 60, 90}, {50, 20, 40}, {80, 70, 50}},
       96,
       600,
       {470, 50, 80}},
      {"too narrow a list: the columns keep their minimums and it scrolls",
       {{110, 60, 200}, {50, 20, 40}},
       96,
       150,
       {200, 50}},
      {"an unknown resolution counts as 96", {{80, 0, 0}}, 0, 0, {80}},
      {"no columns", {}, 96, 500, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DetailColumnWidths(row.needs, row.dpi, row.available), row.widths);
  }
}

}  // namespace
}  // namespace rw::viewer
