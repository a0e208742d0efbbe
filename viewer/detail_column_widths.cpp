#include "viewer/detail_column_widths.h"

#include <algorithm>
#include <numeric>

namespace rw::viewer {
namespace {

constexpr int kDesignDotsPerInch = 96;

}  // namespace

std::vector<int> DetailColumnWidths(const std::vector<ColumnNeed>& needs, int dotsPerInch,
                                    int available) {
  const int dpi = dotsPerInch > 0 ? dotsPerInch : kDesignDotsPerInch;
  std::vector<int> widths;
  widths.reserve(needs.size());
  for (const ColumnNeed& need : needs) {
    // Rounded up: a design width must never shrink on a screen a little denser than 96 dpi.
    const int scaled = (need.designWidth * dpi + kDesignDotsPerInch - 1) / kDesignDotsPerInch;
    widths.push_back(std::max({scaled, need.heading, need.widestValue}));
  }
  if (!widths.empty()) {
    const int used = std::accumulate(widths.begin(), widths.end(), 0);
    if (available > used) {
      widths.front() += available - used;
    }
  }
  return widths;
}

}  // namespace rw::viewer
