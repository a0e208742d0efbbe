#include "ui/divider_page.h"

#include <QLayout>
#include <QMouseEvent>
#include <QResizeEvent>

namespace rw::ui {
namespace {

QRect ToRect(const viewer::PaneRect& area) {
  return {area.x, area.y, area.width, area.height};
}

}  // namespace

DividerPage::DividerPage(QWidget* parent) : Page(parent) {
  // Moves over the gap change the pointer even with no button held.
  setMouseTracking(true);
}

void DividerPage::SetupDivider(QWidget* left, const viewer::DividerPane& leftValues, QWidget* right,
                               const viewer::DividerPane& rightValues, int percent) {
  leftWindow = left;
  rightWindow = right;
  leftPane = leftValues;
  rightPane = rightValues;
  setupPercent = percent;
}

void DividerPage::resizeEvent(QResizeEvent* event) {
  Page::resizeEvent(event);
  if (leftWindow == nullptr || rightWindow == nullptr) {
    return;
  }
  const QSize size = event->size();
  if (!geometry.IsSetUp()) {
    if (size.width() <= 0 || size.height() <= 0) {
      return;
    }
    if (layout() != nullptr) {
      layout()->activate();
    }
    const int top = PaneTop();
    leftPane.topOffset = top;
    rightPane.topOffset = top;
    geometry.Setup(leftPane, rightPane, setupPercent, size.width(), size.height());
  } else {
    geometry.Resize(size.width(), size.height());
  }
  PlacePanes();
}

void DividerPage::PlacePanes() {
  leftWindow->setGeometry(ToRect(geometry.Left()));
  rightWindow->setGeometry(ToRect(geometry.Right()));
}

void DividerPage::UpdatePointer(const QPoint& point) {
  if (dragging || geometry.InZone(point.x(), point.y())) {
    setCursor(Qt::SplitHCursor);
  } else {
    unsetCursor();
  }
}

void DividerPage::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  UpdatePointer(point);
  if (dragging) {
    // The panes follow every move, not only the release.
    geometry.MoveTo(point.x(), width());
    PlacePanes();
  }
  Page::mouseMoveEvent(event);
}

void DividerPage::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton && geometry.InZone(point.x(), point.y())) {
    // Held until the release, so the divider follows the mouse beyond the page's edges.
    grabMouse(Qt::SplitHCursor);
    dragging = true;
    UpdatePointer(point);
  }
  Page::mousePressEvent(event);
}

void DividerPage::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging) {
    Page::mouseReleaseEvent(event);
    return;
  }
  geometry.MoveTo(event->position().toPoint().x(), width());
  PlacePanes();
  dragging = false;
  releaseMouse();
  UpdatePointer(event->position().toPoint());
  Page::mouseReleaseEvent(event);
}

}  // namespace rw::ui
