#include "ui/page_rectangle.h"

#include <algorithm>

namespace rw::ui {

QRect PageRectangle(const QRect& client, const QRect& firstTabHeader) {
  // Qt's right() and bottom() are the last pixel inside; the rule counts the client's right and
  // bottom as one past it, so add one back.
  const int clientRight = client.x() + client.width();
  const int clientBottom = client.y() + client.height();
  const int headerBottom = firstTabHeader.y() + firstTabHeader.height();
  const int left = firstTabHeader.x();
  const int top = headerBottom + 1;
  const int width = std::max(0, clientRight - left - 1);
  const int height = std::max(0, clientBottom - top - 1);
  return QRect(left, top, width, height);
}

}  // namespace rw::ui
