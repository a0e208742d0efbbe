#include "ui/detail_list_model.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/qt_text.h"

namespace rw::ui {
namespace {

constexpr int kIconSize = 16;

QIcon Triangle(const QColor& colour, bool pointsRight) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  if (pointsRight) {
    path.moveTo(4, 2);
    path.lineTo(13, 8);
    path.lineTo(4, 14);
  } else {
    path.moveTo(12, 2);
    path.lineTo(3, 8);
    path.lineTo(12, 14);
  }
  path.closeSubpath();
  painter.fillPath(path, colour);
  return QIcon(pixmap);
}

// Translated where they are shown (headerData).
const char* const kHeadings[DetailListModel::kColumnCount] = {
    QT_TRANSLATE_NOOP("rw::ui::DetailListModel", "Verb / Response"),
    QT_TRANSLATE_NOOP("rw::ui::DetailListModel", "ID"),
    QT_TRANSLATE_NOOP("rw::ui::DetailListModel", "Bytes"),
    QT_TRANSLATE_NOOP("rw::ui::DetailListModel", "Time/Connect"),
    QT_TRANSLATE_NOOP("rw::ui::DetailListModel", "Time/Data"),
    QT_TRANSLATE_NOOP("rw::ui::DetailListModel", "Time/Total")};
constexpr int kWidths[DetailListModel::kColumnCount] = {110, 50, 50, 80, 80, 80};
const char* const kWidestValues[DetailListModel::kColumnCount] = {
    "GET http://www.example.com/ HTTP/1.1",
    "999999",
    "99999999",
    "9999.999",
    "9999.999",
    "9999.999"};

Qt::Alignment AlignmentOf(int column) {
  return (column == DetailListModel::kFirstLine || column == DetailListModel::kId)
             ? Qt::AlignLeft | Qt::AlignVCenter
             : Qt::AlignRight | Qt::AlignVCenter;
}

}  // namespace

DetailListModel::DetailListModel(QObject* parent)
    : QAbstractTableModel(parent), requestIcon(RequestIcon()), responseIcon(ResponseIcon()) {}

QIcon DetailListModel::RequestIcon() {
  return Triangle(QColor(0, 0, 128), true);
}
QIcon DetailListModel::ResponseIcon() {
  return Triangle(QColor(220, 0, 0), false);
}

int DetailListModel::ColumnWidth(int column) {
  return column >= 0 && column < kColumnCount ? kWidths[column] : 0;
}

QString DetailListModel::WidestValue(int column) {
  return column >= 0 && column < kColumnCount ? QString::fromLatin1(kWidestValues[column])
                                              : QString();
}

void DetailListModel::Reset(std::vector<viewer::DetailRow> newRows) {
  beginResetModel();
  rows = std::move(newRows);
  endResetModel();
}

int DetailListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int DetailListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant DetailListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) {
    return {};
  }
  const viewer::DetailRow& row = Row(index.row());
  const int column = index.column();
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(AlignmentOf(column));
  }
  if (role == Qt::DecorationRole && column == kFirstLine) {
    return row.IsRequest() ? requestIcon : responseIcon;
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
    return {};
  }
  switch (column) {
    case kFirstLine:
      return ToQString(row.firstLine);
    case kId:
      return row.IsRequest() ? QString::number(row.id) : QString();
    case kBytes:
      return QString::number(row.bytes);
    case kConnectTime:
      return ToQString(row.connectTime);
    case kDataTime:
      return ToQString(row.dataTime);
    case kTotalTime:
      return ToQString(row.totalTime);
    default:
      return {};
  }
}

QVariant DetailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
    return {};
  }
  if (role == Qt::DisplayRole) {
    return tr(kHeadings[section]);
  }
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(AlignmentOf(section));
  }
  return {};
}

}  // namespace rw::ui
