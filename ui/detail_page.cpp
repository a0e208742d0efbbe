#include "ui/detail_page.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <new>

#include "export/curl_command.h"
#include "export/har_builder.h"
#include "ui/captured_text_view.h"
#include "ui/detail_list_model.h"
#include "ui/named.h"
#include "ui/qt_text.h"
#include "ui/search_dialog.h"
#include "ui/wait_cursor.h"
#include "viewer/detail_column_widths.h"
#include "viewer/detail_row.h"
#include "viewer/detail_search.h"
#include "viewer/detail_selection.h"

namespace rw::ui {
namespace {

constexpr int kMargin = 7;
// Between the bottom of the button strip and the top of the panes.
constexpr int kStripGap = 10;
constexpr int kMinimumPaneWidth = 50;
constexpr int kDividerPercent = 80;

QString AskSavePath(QWidget* parent) {
  return QFileDialog::getSaveFileName(parent, DetailPage::tr("Export as HAR"),
                                      QStringLiteral("relaywatch.har"),
                                      DetailPage::tr("HTTP Archive (*.har);;All files (*)"));
}

}  // namespace

DetailPage::DetailPage(UiContext& uiContext, QWidget* parent)
    : DividerPage(parent),
      context(uiContext),
      searchPrompt(&SearchDialog::Ask),
      savePathPrompt(&AskSavePath) {
  BuildControls();
  SetUpList();
  LayOut();
  ConnectActions();
}

void DetailPage::BuildControls() {
  refreshButton = Named(new QPushButton(tr("&Refresh"), this), "refreshButton");
  showButton = Named(new QPushButton(tr("&Show"), this), "showButton");
  clearButton = Named(new QPushButton(tr("Cl&ear"), this), "clearButton");
  copyButton = Named(new QPushButton(tr("&Copy"), this), "copyButton");
  searchButton = Named(new QPushButton(tr("&Search"), this), "searchButton");
  fixCarriageReturns = Named(new QCheckBox(tr("Fix Carriage Returns"), this), "fixCarriageReturns");
  model = Named(new DetailListModel(this), "model");
  list = Named(new QTreeView(this), "list");
  list->setModel(model);
  list->setAccessibleName(tr("Captured requests and responses"));
  text = Named(new CapturedTextView(this), "text");
  text->setAccessibleName(tr("Selected request and response text"));
}

void DetailPage::SetUpList() {
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);  // lets the view skip measuring every row
  list->setSortingEnabled(false);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setIconSize(QSize(16, 16));
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsMovable(false);
  list->header()->setSectionResizeMode(QHeaderView::Interactive);
  FitColumns();
  // A column the user has sized stays as sized: the fit no longer follows the list's width.
  connect(list->header(), &QHeaderView::sectionResized, this, [this] {
    if (!fittingColumns) {
      userSizedColumns = true;
    }
  });
  list->installEventFilter(this);
  list->viewport()->installEventFilter(this);
  // The selection stays as visible when the list loses the focus.
  QPalette palette = list->palette();
  for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  list->setPalette(palette);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
}

void DetailPage::LayOut() {
  auto* strip = new QHBoxLayout;
  strip->setContentsMargins(kMargin, kMargin, kMargin, 0);
  for (QPushButton* button : {refreshButton, showButton, clearButton, copyButton, searchButton}) {
    strip->addWidget(button);
  }
  strip->addSpacing(kMargin);
  strip->addWidget(fixCarriageReturns);
  strip->addStretch();
  // The panes are placed by the divider, outside the layout.
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addLayout(strip);
  column->addStretch();
  setTabOrder(fixCarriageReturns, list);
  setTabOrder(list, text);

  const viewer::DividerPane pane{kMinimumPaneWidth, 0, 0};
  SetupDivider(list, pane, text, pane, kDividerPercent);
}

void DetailPage::ConnectActions() {
  connect(refreshButton, &QPushButton::clicked, this, &DetailPage::Refresh);
  connect(showButton, &QPushButton::clicked, this, &DetailPage::Show);
  connect(clearButton, &QPushButton::clicked, this, &DetailPage::Clear);
  connect(copyButton, &QPushButton::clicked, this, &DetailPage::Copy);
  connect(searchButton, &QPushButton::clicked, this, &DetailPage::Search);
  connect(fixCarriageReturns, &QCheckBox::clicked, this, &DetailPage::Show);
  // Double-click, or Enter on a row.
  connect(list, &QAbstractItemView::activated, this, &DetailPage::Show);
  connect(list, &QWidget::customContextMenuRequested, this, &DetailPage::ShowContextMenu);
}

void DetailPage::FitColumns() {
  if (userSizedColumns) {
    return;
  }
  const QFontMetrics metrics(list->font());
  // The item view's text margin on each side, as the style draws it.
  const int margins =
      2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
  std::vector<viewer::ColumnNeed> needs;
  for (int column = 0; column < DetailListModel::kColumnCount; ++column) {
    viewer::ColumnNeed need;
    need.designWidth = DetailListModel::ColumnWidth(column);
    need.heading = list->header()->sectionSizeHint(column);
    need.widestValue = metrics.horizontalAdvance(DetailListModel::WidestValue(column)) + margins;
    if (column == DetailListModel::kFirstLine) {
      need.widestValue += list->iconSize().width() + margins;
    }
    needs.push_back(need);
  }
  const std::vector<int> widths =
      viewer::DetailColumnWidths(needs, list->logicalDpiX(), list->viewport()->width());
  fittingColumns = true;
  for (int column = 0; column < DetailListModel::kColumnCount; ++column) {
    list->header()->resizeSection(column, widths[static_cast<size_t>(column)]);
  }
  fittingColumns = false;
}

bool DetailPage::eventFilter(QObject* watched, QEvent* event) {
  // The viewport, not the list: its width is the one the columns share, and it is only settled
  // once the list has laid out its scroll bars.
  const bool resized = watched == list->viewport() && event->type() == QEvent::Resize;
  const bool restyled = watched == list && (event->type() == QEvent::FontChange ||
                                            event->type() == QEvent::StyleChange);
  if (resized || restyled) {
    FitColumns();
  }
  return DividerPage::eventFilter(watched, event);
}

int DetailPage::PaneTop() const {
  return refreshButton->geometry().bottom() + 1 + kStripGap;
}

void DetailPage::Refresh() {
  WaitCursor wait;
  text->Blank();
  model->Reset({});
  model->Reset(viewer::BuildDetailRows(context.app.Store()));
}

void DetailPage::Activate() {
  if (model->rowCount() == 0) {
    Refresh();
  }
}

std::vector<int> DetailPage::SelectedRows() const {
  // Read from the selection's ranges: asking the selection model row by row costs a walk of every
  // range per row.
  std::vector<viewer::RowRun> runs;
  for (const QItemSelectionRange& range : list->selectionModel()->selection()) {
    runs.push_back({range.top(), range.bottom()});
  }
  return viewer::RowsOfRuns(runs);
}

void DetailPage::Show() {
  WaitCursor wait;
  text->ShowText(
      viewer::SelectionText(model->Rows(), SelectedRows(), fixCarriageReturns->isChecked()));
}

void DetailPage::Clear() {
  context.app.Store().Clear();
  ResetView();
}

void DetailPage::Copy() {
  text->CopyAllAndSay(context.boxes, this);
}

void DetailPage::Search() {
  const QString typed = searchPrompt(this);
  if (typed.isEmpty()) {
    return;
  }
  int count = 0;
  {
    WaitCursor wait;
    const viewer::DetailSearchResult found =
        viewer::SearchDetailRows(model->Rows(), ToStdString(typed));
    count = found.count;
    // Matches go into one selection of row ranges, applied at once: selecting row by row costs
    // a signal and a merge per row.
    const int lastColumn = DetailListModel::kColumnCount - 1;
    QItemSelection matches;
    for (const viewer::RowRun& run : found.runs) {
      matches.select(model->index(run.first, 0), model->index(run.last, lastColumn));
    }
    QItemSelectionModel* selection = list->selectionModel();
    selection->select(matches, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // Each match takes the focus mark in turn, so it ends on the last; with none it stays.
    if (found.lastMatch >= 0) {
      selection->setCurrentIndex(model->index(found.lastMatch, 0), QItemSelectionModel::NoUpdate);
    }
    Show();
  }
  context.boxes.Information(this, tr("%n Items Found matching: %1", nullptr, count).arg(typed));
}

void DetailPage::ResetView() {
  model->Reset({});
  text->Blank();
}

void DetailPage::ShowContextMenu(const QPoint& position) {
  const QModelIndex index = list->indexAt(position);
  const int row = index.isValid() ? index.row() : -1;
  const bool requestRow = viewer::CanCopyAsCurl(model->Rows(), row);
  QMenu menu(this);
  QAction* curl = menu.addAction(tr("Copy as curl"));
  QAction* curlProxied = menu.addAction(tr("Copy as curl through Relaywatch"));
  curl->setEnabled(requestRow);
  curlProxied->setEnabled(requestRow);
  menu.addSeparator();
  QAction* har = menu.addAction(tr("Export as HAR..."));
  QAction* chosen = menu.exec(list->viewport()->mapToGlobal(position));
  if (chosen == curl || chosen == curlProxied) {
    CopyAsCurl(row, chosen == curlProxied);
  } else if (chosen == har) {
    ExportHar();
  }
}

void DetailPage::CopyAsCurl(int row, bool throughProxy) {
  if (!viewer::CanCopyAsCurl(model->Rows(), row)) {
    return;
  }
  const std::shared_ptr<capture::Conversation> conversation = model->Row(row).side.Get();
  if (conversation == nullptr) {
    context.boxes.Message(this, tr("Data no longer in Relaywatch Buffers."));
    return;
  }
  std::string proxy;
  if (throughProxy) {
    // The listener binds the loopback address only.
    const uint16_t port = context.app.Listener().BoundPort();
    if (port == 0) {
      context.boxes.Message(this, tr("Relaywatch is not listening."));
      return;
    }
    proxy = "127.0.0.1:" + std::to_string(port);
  }
  app::CurlCommand command;
  try {
    const int64_t captured = conversation->RequestDataSize();
    const std::string request = conversation->FullText(capture::Direction::kRequest);
    command =
        app::BuildCurlCommand(std::string_view(request).substr(0, static_cast<size_t>(captured)),
                              conversation->RequestTotal(), proxy, conversation->Origin());
  } catch (const std::bad_alloc&) {
    context.boxes.Message(this, tr("Not enough memory for the command."));
    return;
  }
  if (!command.ok) {
    context.boxes.Message(this, ToQString(command.problem));
    return;
  }
  QGuiApplication::clipboard()->setText(ToQString(command.command));
}

void DetailPage::ExportHar() {
  const std::vector<std::shared_ptr<capture::Conversation>> conversations =
      viewer::SelectionConversations(model->Rows(), SelectedRows(), context.app.Store());
  const QString path = savePathPrompt(this);
  if (path.isEmpty()) {
    return;
  }
  capture::HarResult result;
  {
    WaitCursor wait;
    capture::HarCreator creator;
    creator.version = RELAYWATCH_VERSION;
    result = capture::WriteHarFile(ToStdString(path), conversations, creator);
  }
  if (!result.ok) {
    context.boxes.Message(this, ToQString(result.error));
    return;
  }
  const QString where = QDir::toNativeSeparators(path);
  context.boxes.Information(
      this, result.entries == 1
                ? tr("1 conversation exported to %1").arg(where)
                : tr("%n conversations exported to %1", nullptr, result.entries).arg(where));
}

}  // namespace rw::ui
