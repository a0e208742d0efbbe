#include "viewer/divider_geometry.h"

#include <gtest/gtest.h>

namespace rw::viewer {
namespace {

constexpr DividerPane kPane{50, 0, 30};  // the Detail page's panes: minimum 50, no margin

DividerGeometry DetailLayout(int width = 600, int height = 400) {
  DividerGeometry geometry;
  geometry.Setup(kPane, kPane, 80, width, height);
  return geometry;
}

TEST(DividerGeometry, SetupPlacesDividerAtPercent) {
  const DividerGeometry g = DetailLayout();
  EXPECT_EQ(g.Position(), 480);
  EXPECT_EQ(g.Left(), (PaneRect{0, 30, 478, 370}));
  EXPECT_EQ(g.Right(), (PaneRect{482, 30, 118, 370}));
  EXPECT_EQ(g.ZoneLeft(), 478);
  EXPECT_EQ(g.ZoneRight(), 482);
  EXPECT_EQ(g.ZoneBottom(), 400);

  DividerGeometry margins;
  margins.Setup({10, 7, 20}, {10, 5, 25}, 50, 201, 100);  // 50% of 201 truncates to 100
  EXPECT_EQ(margins.Left(), (PaneRect{7, 20, 91, 80}));
  EXPECT_EQ(margins.Right(), (PaneRect{102, 25, 94, 75}));
}

TEST(DividerGeometry, ZoneIsFourPixelsOverWholeHeight) {
  const DividerGeometry g = DetailLayout();
  const struct {
    int x, y;
    bool inside;
  } rows[] = {{477, 100, false}, {478, 100, true}, {481, 100, true},  {482, 100, false},
              {480, 0, true},    {480, 399, true}, {480, 400, false}, {480, -1, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.x << "," << row.y);
    EXPECT_EQ(g.InZone(row.x, row.y), row.inside);
  }
  EXPECT_FALSE(DividerGeometry().InZone(0, 0));  // nothing to grab before setup
}

TEST(DividerGeometry, MoveClampsToMinimumWidths) {
  const struct {
    int requested, width, position;
  } rows[] = {
      {300, 600, 300},  {10, 600, 50}, {-500, 600, 50}, {590, 600, 550},
      {5000, 600, 550}, {60, 80, 30},  // too narrow for both minimums: the upper bound wins
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.requested);
    DividerGeometry g = DetailLayout();
    g.MoveTo(row.requested, row.width);
    EXPECT_EQ(g.Position(), row.position);
    EXPECT_EQ(g.Left().width, std::max(row.position - 2, 0));
    EXPECT_EQ(g.Right().x, row.position + 2);
    EXPECT_EQ(g.Right().width, std::max(row.width - row.position - 2, 0));
    EXPECT_EQ(g.Left().height, 370);  // heights and tops stay
    EXPECT_EQ(g.Right().y, 30);
  }
  DividerGeometry far = DetailLayout();
  far.MoveTo(0, 600);
  EXPECT_EQ(far.Left().width, 48);  // dragging to the far left leaves a 48-pixel list
}

TEST(DividerGeometry, ResizeKeepsLeftWidth) {
  DividerGeometry g = DetailLayout();
  g.Resize(800, 500);
  EXPECT_EQ(g.Left(), (PaneRect{0, 30, 478, 470}));
  EXPECT_EQ(g.Right(), (PaneRect{482, 30, 318, 470}));
  EXPECT_EQ(g.ZoneBottom(), 500);
  EXPECT_TRUE(g.InZone(480, 499));

  g.Resize(300, 20);  // narrower than the divider: the text pane and heights end at 0
  EXPECT_EQ(g.Left(), (PaneRect{0, 30, 478, 0}));
  EXPECT_EQ(g.Right(), (PaneRect{482, 30, 0, 0}));

  g.MoveTo(480, 300);  // the next drag clamps to the new bounds
  EXPECT_EQ(g.Position(), 250);
  EXPECT_EQ(g.Right().width, 48);
}

}  // namespace
}  // namespace rw::viewer
