// The Detail tab: every captured request and response as a row of a list (a snapshot taken at
// Refresh), the full text of the selected rows beside it, text search, Copy as curl and HAR
// export. Which rows a store gives, what a selection shows or exports and what a search selects
// are rules in viewer/; this page turns them into widgets. Tests find the controls by their
// object names. GUI thread only; owned by the main window.
#pragma once

#include <QString>
#include <functional>

#include "ui/divider_page.h"
#include "ui/ui_context.h"

class QCheckBox;
class QPushButton;
class QTreeView;

namespace rw::ui {

class CapturedTextView;
class DetailListModel;

class DetailPage : public DividerPage {
  Q_OBJECT

 public:
  // Asks the user for a text; empty means cancelled. Tests answer without a dialog.
  using Prompt = std::function<QString(QWidget* parent)>;

  explicit DetailPage(UiContext& context, QWidget* parent = nullptr);

  // Rebuilds the list from the store in store order and empties the text.
  void Refresh();
  // Refresh only when the list has no rows.
  void Activate();
  // Shows the full texts of the selected rows, in list order, each followed by CR LF; line ends
  // repaired when Fix Carriage Returns is checked.
  void Show();
  // Empties the store (which blanks every viewer page) and this page.
  void Clear();
  void Copy();
  // Asks for a text, selects exactly the rows whose full text contains it ignoring case, shows
  // them and reports the count.
  void Search();
  // Removes every row with its handle and empties the text.
  void ResetView();

  // The request of `row` as a curl command on the clipboard, direct or through this proxy.
  void CopyAsCurl(int row, bool throughProxy);
  // The selected rows' conversations (all captured ones when none is selected) to a HAR file.
  void ExportHar();

  void Selected() override { Activate(); }
  void ShowClearedState() override { ResetView(); }
  void Closing() override { ResetView(); }

  void SetSearchPrompt(Prompt prompt) { searchPrompt = std::move(prompt); }
  void SetSavePathPrompt(Prompt prompt) { savePathPrompt = std::move(prompt); }

 protected:
  int PaneTop() const override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The construction steps: the controls, the list's behaviour, the layout, the connections.
  void BuildControls();
  void SetUpList();
  void LayOut();
  void ConnectActions();
  void ShowContextMenu(const QPoint& position);
  // Sizes the columns to the current font and list width, until the user sizes one.
  void FitColumns();
  std::vector<int> SelectedRows() const;

  UiContext& context;
  QPushButton* refreshButton = nullptr;
  QPushButton* showButton = nullptr;
  QPushButton* clearButton = nullptr;
  QPushButton* copyButton = nullptr;
  QPushButton* searchButton = nullptr;
  QCheckBox* fixCarriageReturns = nullptr;
  QTreeView* list = nullptr;
  DetailListModel* model = nullptr;
  CapturedTextView* text = nullptr;
  Prompt searchPrompt;
  Prompt savePathPrompt;
  bool fittingColumns = false;
  bool userSizedColumns = false;
};

}  // namespace rw::ui
