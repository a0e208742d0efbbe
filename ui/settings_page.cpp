#include "ui/settings_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/log_now.h"
#include "app/statistics_texts.h"
#include "ui/qt_text.h"
#include "ui/wait_cursor.h"

namespace rw::ui {
namespace {

// A sunken value label with its initial text.
QLabel* ValueLabel(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setMinimumWidth(90);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

// A label that names `field` for the keyboard (its mnemonic) and for screen readers.
QLabel* BuddyLabel(const QString& text, QWidget* field, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(field);
  QString name = text;
  field->setAccessibleName(name.remove(QLatin1Char('&')).trimmed());
  return label;
}

// The caption of a value label. The value keeps its own text as its accessible name, so a screen
// reader hears the value; the caption is tied to it as its label (the buddy relation), not put in
// its place.
QLabel* CaptionLabel(const char* text, QLabel* value, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setBuddy(value);
  return label;
}

// Only a changed text is written, so unchanged labels are not repainted every tick.
void SetTextIfChanged(QLabel* label, const std::string& text) {
  const QString value = ToQString(text);
  if (label->text() != value) {
    label->setText(value);
  }
}

}  // namespace

SettingsPage::SettingsPage(UiContext& context, QWidget* parent) : Page(parent), context(context) {
  BuildControls();
  context.app.LoadSettings();
  ShowForm();
  controls.port->setFocus();
  Apply();
}

void SettingsPage::BuildControls() {
  Controls& c = controls;

  auto* network = new QGroupBox(QStringLiteral("Network Setup"), this);
  c.listenAddress = new QLineEdit(network);
  c.listenAddress->setReadOnly(true);
  c.listenAddress->setFocusPolicy(Qt::ClickFocus);  // shown, not edited: no tab stop
  c.port = new QLineEdit(network);
  c.proxyHost = new QLineEdit(network);
  c.proxyPort = new QLineEdit(network);
  c.listening = ValueLabel("None", network);
  c.proxy = ValueLabel("None", network);
  auto* networkGrid = new QGridLayout(network);
  networkGrid->addWidget(
      BuddyLabel(QStringLiteral("Relaywatch IP/Name:"), c.listenAddress, network), 0, 0);
  networkGrid->addWidget(c.listenAddress, 0, 1);
  networkGrid->addWidget(BuddyLabel(QStringLiteral("Relaywatch &Port:"), c.port, network), 0, 2);
  networkGrid->addWidget(c.port, 0, 3);
  networkGrid->addWidget(BuddyLabel(QStringLiteral("Proxy &IP/Name:"), c.proxyHost, network), 1, 0);
  networkGrid->addWidget(c.proxyHost, 1, 1);
  networkGrid->addWidget(BuddyLabel(QStringLiteral("Proxy Po&rt:"), c.proxyPort, network), 1, 2);
  networkGrid->addWidget(c.proxyPort, 1, 3);
  networkGrid->addWidget(CaptionLabel("Listening on:", c.listening, network), 2, 0);
  networkGrid->addWidget(c.listening, 2, 1);
  networkGrid->addWidget(CaptionLabel("Using Proxy at:", c.proxy, network), 2, 2);
  networkGrid->addWidget(c.proxy, 2, 3);
  networkGrid->setColumnStretch(1, 3);
  networkGrid->setColumnStretch(3, 1);

  auto* trace = new QGroupBox(QStringLiteral("Trace Options"), this);
  c.logDir = new QLineEdit(trace);
  c.maxMB = new QLineEdit(trace);
  c.autoLog = new QCheckBox(QStringLiteral("Auto-&Logging"), trace);
  c.logNow = new QPushButton(QStringLiteral("&Log  and Clear"), trace);
  auto* traceGrid = new QGridLayout(trace);
  traceGrid->addWidget(
      BuddyLabel(QStringLiteral("Log Dir&ectory:    (file is time stamped)"), c.logDir, trace), 0,
      0, 1, 5);
  traceGrid->addWidget(c.logDir, 1, 0, 1, 5);
  traceGrid->addWidget(BuddyLabel(QStringLiteral("&Max Data Retain (MB):"), c.maxMB, trace), 2, 0);
  traceGrid->addWidget(c.maxMB, 2, 1);
  traceGrid->addWidget(c.autoLog, 2, 2);
  traceGrid->setColumnStretch(3, 1);
  traceGrid->addWidget(c.logNow, 2, 4);
  c.maxMB->setMaximumWidth(80);

  auto* counters = new QHBoxLayout;
  c.sent = ValueLabel("0 KB", this);
  c.received = ValueLabel("0 KB", this);
  c.sockets = ValueLabel("0", this);
  c.held = ValueLabel("0 KB", this);
  const std::pair<const char*, QLabel*> counterRow[] = {{"Sent:", c.sent},
                                                        {"Rcv'd:", c.received},
                                                        {"Socket Count:", c.sockets},
                                                        {"In Buffer:", c.held}};
  for (const auto& [text, value] : counterRow) {
    counters->addWidget(CaptionLabel(text, value, this));
    counters->addWidget(value, 1);
  }

  auto* buttons = new QHBoxLayout;
  c.apply = new QPushButton(QStringLiteral("&Apply"), this);
  c.defaults = new QPushButton(QStringLiteral("&Defaults"), this);
  c.clearData = new QPushButton(QStringLiteral("&Clear Data"), this);
  c.exit = new QPushButton(QStringLiteral("E&xit"), this);
  c.help = new QPushButton(QStringLiteral("&Help"), this);
  for (QPushButton* button : {c.apply, c.defaults, c.clearData, c.exit, c.help}) {
    buttons->addWidget(button);
  }
  buttons->insertStretch(4, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(network);
  layout->addWidget(trace);
  layout->addLayout(counters);
  layout->addStretch(1);
  layout->addLayout(buttons);

  // Tab order follows the layout: left to right, then down.
  QWidget* order[] = {c.port,   c.proxyHost, c.proxyPort, c.logDir,    c.maxMB, c.autoLog,
                      c.logNow, c.apply,     c.defaults,  c.clearData, c.exit,  c.help};
  for (size_t i = 1; i < std::size(order); ++i) {
    setTabOrder(order[i - 1], order[i]);
  }

  connect(c.apply, &QPushButton::clicked, this, &SettingsPage::Apply);
  connect(c.defaults, &QPushButton::clicked, this, &SettingsPage::Defaults);
  connect(c.clearData, &QPushButton::clicked, this, &SettingsPage::ClearData);
  connect(c.exit, &QPushButton::clicked, this, &SettingsPage::Exit);
  connect(c.help, &QPushButton::clicked, this, &SettingsPage::Help);
  connect(c.logNow, &QPushButton::clicked, this, &SettingsPage::LogNow);
}

void SettingsPage::ShowForm() {
  const app::SettingsForm& form = context.app.Form();
  controls.listenAddress->setText(ToQString(form.listenAddress));
  controls.port->setText(ToQString(form.port));
  controls.proxyHost->setText(ToQString(form.proxyHost));
  controls.proxyPort->setText(ToQString(form.proxyPort));
  controls.logDir->setText(ToQString(form.logDir));
  controls.maxMB->setText(ToQString(form.maxMB));
  controls.autoLog->setChecked(form.autoLog);
  controls.listening->setText(ToQString(form.listeningLabel));
  controls.proxy->setText(ToQString(form.proxyLabel));
}

void SettingsPage::ReadForm() {
  app::SettingsForm& form = context.app.Form();
  form.listenAddress = ToStdString(controls.listenAddress->text());
  form.port = ToStdString(controls.port->text());
  form.proxyHost = ToStdString(controls.proxyHost->text());
  form.proxyPort = ToStdString(controls.proxyPort->text());
  form.logDir = ToStdString(controls.logDir->text());
  form.maxMB = ToStdString(controls.maxMB->text());
  form.autoLog = controls.autoLog->isChecked();
}

void SettingsPage::Apply() {
  ReadForm();
  // The listener reports its own failures; the listening label then reads "None".
  context.app.ApplySettings(context.app.Form(), {.save = true, .listen = true});
  ShowForm();
}

void SettingsPage::Defaults() {
  ReadForm();
  context.app.Form().RestoreDefaults();
  ShowForm();
  controls.sent->setText(QStringLiteral("0"));
  controls.received->setText(QStringLiteral("0"));
  Apply();
}

void SettingsPage::ClearData() {
  WaitCursor busy;
  // The store tells every page, this one included, to show the cleared state.
  context.app.Store().Clear();
}

void SettingsPage::Exit() {
  emit ExitRequested();
}

void SettingsPage::Help() {
  context.help.OpenHelp();
}

void SettingsPage::LogNow() {
  WaitCursor busy;
  const bool wasAutoLogging = context.app.Store().AutoLog();
  const app::LogNowMessage result = app::LogNow(context.app.Store());
  if (result.written) {
    context.boxes.Information(window(), ToQString(result.text));
    return;
  }
  if (wasAutoLogging) {
    AutoLogStopped();
  }
  context.boxes.Message(window(), ToQString(result.text));
}

void SettingsPage::AutoLogStopped() {
  controls.autoLog->setChecked(false);
  context.app.Form().autoLog = false;
}

void SettingsPage::RefreshStatistics() {
  const app::StatisticsTexts texts = app::StatisticsTexts::From(context.app.Store());
  SetTextIfChanged(controls.sent, texts.sent);
  SetTextIfChanged(controls.received, texts.received);
  SetTextIfChanged(controls.sockets, texts.sockets);
  SetTextIfChanged(controls.held, texts.held);
}

}  // namespace rw::ui
