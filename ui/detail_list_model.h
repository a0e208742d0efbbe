// The Detail page's rows as a table model: one row per captured request or response, six
// columns, read from the rows built when the page was refreshed. Replaced in one step on every
// refresh. GUI thread only; owned by the Detail page.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <vector>

#include "viewer/detail_row.h"

namespace rw::ui {

class DetailListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kFirstLine = 0, kId, kBytes, kConnectTime, kDataTime, kTotalTime, kColumnCount };

  explicit DetailListModel(QObject* parent = nullptr);

  // Replaces every row at once (an empty vector removes them all with their handles).
  void Reset(std::vector<viewer::DetailRow> newRows);
  const viewer::DetailRow& Row(int row) const { return rows.at(static_cast<size_t>(row)); }
  const std::vector<viewer::DetailRow>& Rows() const { return rows; }
  // The column's width in pixels at 96 dots per inch: a minimum.
  static int ColumnWidth(int column);
  // The widest value the column is expected to show, to size it by: a request line for a site's
  // root, a six-digit id, a size of some 100 MB, a time of hours.
  static QString WidestValue(int column);

  // The small images: a dark blue triangle pointing right for requests, a red one pointing left
  // for responses.
  static QIcon RequestIcon();
  static QIcon ResponseIcon();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<viewer::DetailRow> rows;
  QIcon requestIcon;
  QIcon responseIcon;
};

}  // namespace rw::ui
