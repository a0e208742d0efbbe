#include "viewer/divider_geometry.h"

#include <algorithm>

namespace rw::viewer {
namespace {

int32_t NotNegative(int32_t value) {
  return std::max<int32_t>(value, 0);
}

}  // namespace

void DividerGeometry::Setup(const DividerPane& left, const DividerPane& right, int32_t percent,
                            int32_t width, int32_t height) {
  leftPane = left;
  rightPane = right;
  const int32_t d = static_cast<int32_t>(static_cast<int64_t>(percent) * width / 100);
  leftArea = {left.sideMargin, left.topOffset, NotNegative(d - left.sideMargin - kHalfZone),
              NotNegative(height - left.topOffset)};
  rightArea = {d + kHalfZone, right.topOffset,
               NotNegative(width - right.sideMargin - d - kHalfZone),
               NotNegative(height - right.topOffset)};
  zoneLeft = d - kHalfZone;
  zoneTop = 0;
  zoneRight = d + kHalfZone;
  zoneBottom = height;
  setUp = true;
}

void DividerGeometry::Resize(int32_t width, int32_t height) {
  if (!setUp) {
    return;
  }
  leftArea.height = NotNegative(height - leftPane.topOffset);
  rightArea.width = NotNegative(width - rightPane.sideMargin - zoneRight);
  rightArea.height = NotNegative(height - rightPane.topOffset);
  zoneBottom = height;
}

int32_t DividerGeometry::Clamp(int32_t x, int32_t width) const {
  const int32_t lower = leftPane.sideMargin + leftPane.minimumWidth;
  const int32_t upper = width - rightPane.sideMargin - rightPane.minimumWidth;
  if (x < lower) {
    x = lower;
  }
  // Applied last, so on a page too narrow for both minimums the upper bound holds.
  if (x > upper) {
    x = upper;
  }
  return x;
}

void DividerGeometry::MoveTo(int32_t x, int32_t width) {
  if (!setUp) {
    return;
  }
  x = Clamp(x, width);
  zoneLeft = x - kHalfZone;
  zoneRight = x + kHalfZone;
  leftArea.width = NotNegative(x - leftPane.sideMargin - kHalfZone);
  rightArea.x = x + kHalfZone;
  rightArea.width = NotNegative(width - rightPane.sideMargin - x - kHalfZone);
}

bool DividerGeometry::InZone(int32_t x, int32_t y) const {
  return setUp && x >= zoneLeft && x < zoneRight && y >= zoneTop && y < zoneBottom;
}

}  // namespace rw::viewer
