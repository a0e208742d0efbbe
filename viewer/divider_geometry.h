// Where the Detail page's two panes and the draggable gap between them go, in pixels. Plain
// arithmetic with no toolkit types, so the rules are tested without a window. User-interface
// thread; owned by the divider page.
#pragma once

#include <cstdint>

namespace rw::viewer {

struct PaneRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const PaneRect&) const = default;
};

// One pane's fixed values.
struct DividerPane {
  // The divider stays at least this far (plus the side margin) from the page edge on this side.
  int32_t minimumWidth = 0;
  // Left pane: its x position. Right pane: the gap kept at the page's right edge.
  int32_t sideMargin = 0;
  // The pane's y position; its height is the page height minus this.
  int32_t topOffset = 0;
};

class DividerGeometry {
 public:
  // Half the grab zone: the zone spans 2 pixels either side of the divider position.
  static constexpr int32_t kHalfZone = 2;

  // The first layout: the divider at `percent` of `width`, truncating.
  void Setup(const DividerPane& left, const DividerPane& right, int32_t percent, int32_t width,
             int32_t height);
  bool IsSetUp() const { return setUp; }

  // The page changed size: the left pane keeps its width, the right pane takes the change.
  void Resize(int32_t width, int32_t height);

  // Moves the divider to `x`, clamped so that each pane keeps its minimum width; the upper bound
  // wins on a page too narrow for both. `width` is the page's current width.
  void MoveTo(int32_t x, int32_t width);

  // Left and top edges inclusive, right and bottom exclusive.
  bool InZone(int32_t x, int32_t y) const;

  // Where the divider would go when asked for `x` on a page `width` wide.
  int32_t Clamp(int32_t x, int32_t width) const;

  const PaneRect& Left() const { return leftArea; }
  const PaneRect& Right() const { return rightArea; }
  int32_t Position() const { return zoneLeft + kHalfZone; }
  int32_t ZoneLeft() const { return zoneLeft; }
  int32_t ZoneRight() const { return zoneRight; }
  int32_t ZoneTop() const { return zoneTop; }
  int32_t ZoneBottom() const { return zoneBottom; }

 private:
  DividerPane leftPane;
  DividerPane rightPane;
  PaneRect leftArea;
  PaneRect rightArea;
  int32_t zoneLeft = 0;
  int32_t zoneTop = 0;
  int32_t zoneRight = 0;
  int32_t zoneBottom = 0;
  bool setUp = false;
};

}  // namespace rw::viewer
