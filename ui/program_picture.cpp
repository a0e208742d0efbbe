#include "ui/program_picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace rw::ui {
namespace {

// Colours of the picture.
const QColor kTileTop(0x1f, 0x6f, 0x8b);
const QColor kTileBottom(0x0e, 0x3a, 0x4f);
const QColor kPanel(0xf4, 0xf7, 0xf9);
const QColor kPanelEdge(0x0b, 0x2a, 0x38);
const QColor kArrowOut(0xff, 0xb3, 0x29);
const QColor kArrowBack(0x7f, 0xd8, 0x8f);
const QColor kLens(0xff, 0xff, 0xff);

// An arrow from `from` to `to` along a straight shaft with a triangular head.
void Arrow(QPainter& painter, QPointF from, QPointF to, qreal width, const QColor& colour) {
  const QPointF direction = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
  const QPointF normal(-direction.y(), direction.x());
  const qreal head = width * 2.6;
  const QPointF shaftEnd = to - direction * head;
  painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(from, shaftEnd);
  QPainterPath tip;
  tip.moveTo(to);
  tip.lineTo(shaftEnd + normal * head * 0.75);
  tip.lineTo(shaftEnd - normal * head * 0.75);
  tip.closeSubpath();
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawPath(tip);
}

}  // namespace

void ProgramPicture::Paint(QPainter& painter, const QRectF& bounds) {
  const qreal side = std::min(bounds.width(), bounds.height());
  const QRectF tile(bounds.center().x() - side / 2, bounds.center().y() - side / 2, side, side);
  const qreal unit = side / 64.0;  // the picture is designed on a 64 x 64 grid
  auto at = [&](qreal x, qreal y) {
    return QPointF(tile.left() + x * unit, tile.top() + y * unit);
  };
  auto box = [&](qreal x, qreal y, qreal w, qreal h) {
    return QRectF(at(x, y), QSizeF(w * unit, h * unit));
  };

  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);

  // Rounded tile.
  QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
  fill.setColorAt(0, kTileTop);
  fill.setColorAt(1, kTileBottom);
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawRoundedRect(box(2, 2, 60, 60), 12 * unit, 12 * unit);

  // Browser window on the left: a panel with a title bar.
  painter.setPen(QPen(kPanelEdge, 1.5 * unit));
  painter.setBrush(kPanel);
  painter.drawRoundedRect(box(7, 30, 18, 22), 2.5 * unit, 2.5 * unit);
  painter.setBrush(kArrowOut);
  painter.drawRect(box(7, 30, 18, 4.5));

  // Server on the right: a stack of three drawers.
  painter.setBrush(kPanel);
  for (int i = 0; i < 3; ++i) {
    painter.drawRoundedRect(box(39, 30 + i * 7.5, 18, 6.5), 1.5 * unit, 1.5 * unit);
    painter.setBrush(kArrowBack);
    painter.drawEllipse(box(51.5, 32 + i * 7.5, 2.5, 2.5));
    painter.setBrush(kPanel);
  }

  // The relay: a request out, a response back.
  Arrow(painter, at(26.5, 37), at(37.5, 37), 2.2 * unit, kArrowOut);
  Arrow(painter, at(37.5, 46), at(26.5, 46), 2.2 * unit, kArrowBack);

  // The watching lens above the relay.
  painter.setPen(QPen(kLens, 3 * unit, Qt::SolidLine, Qt::RoundCap));
  painter.setBrush(QColor(255, 255, 255, 40));
  painter.drawEllipse(box(21, 7, 16, 16));
  painter.drawLine(at(35, 21), at(41, 27));
  painter.setPen(Qt::NoPen);
  painter.setBrush(kLens);
  painter.drawEllipse(box(26.5, 12.5, 5, 5));

  painter.restore();
}

QImage ProgramPicture::Render(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  Paint(painter, QRectF(0, 0, size, size));
  painter.end();
  return image;
}

QIcon ProgramPicture::Icon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addPixmap(QPixmap::fromImage(Render(size)));
  }
  return icon;
}

}  // namespace rw::ui
