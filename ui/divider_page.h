// A page with two panes side by side under a strip of controls and a gap between them that the
// user drags to share the width. Knows nothing of what the panes show; the placing rules live in
// viewer::DividerGeometry. GUI thread only; owned by the main window.
#pragma once

#include "ui/page.h"
#include "viewer/divider_geometry.h"

namespace rw::ui {

class DividerPage : public Page {
  Q_OBJECT

 public:
  explicit DividerPage(QWidget* parent = nullptr);

  const viewer::DividerGeometry& Geometry() const { return geometry; }
  bool Dragging() const { return dragging; }

 protected:
  // Hands over the two panes (children of this page). The first layout happens at the first
  // resize, when the page has its real size: the divider then starts at `percent` of the width.
  void SetupDivider(QWidget* left, const viewer::DividerPane& leftPane, QWidget* right,
                    const viewer::DividerPane& rightPane, int percent);
  // The y of the panes' top, asked for when the first layout happens (the strip is laid out then).
  virtual int PaneTop() const = 0;

  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void PlacePanes();
  void UpdatePointer(const QPoint& point);

  QWidget* leftWindow = nullptr;
  QWidget* rightWindow = nullptr;
  viewer::DividerPane leftPane;
  viewer::DividerPane rightPane;
  int setupPercent = 0;
  viewer::DividerGeometry geometry;
  bool dragging = false;
};

}  // namespace rw::ui
