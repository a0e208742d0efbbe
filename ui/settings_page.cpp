#include "ui/settings_page.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/log_now.h"
#include "app/statistics_texts.h"
#include "tls/certificate_fingerprint.h"
#include "ui/qt_text.h"
#include "ui/wait_cursor.h"

namespace rw::ui {
namespace {

// Widths in characters of the user's font, so larger fonts and screens keep the values whole.
constexpr int kValueWidthInCharacters = 13;  // "99,999,999 KB"
constexpr int kMaxMBWidthInCharacters = 11;

// A sunken value label with its initial text.
QLabel* ValueLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setMinimumWidth(label->fontMetrics().averageCharWidth() * kValueWidthInCharacters);
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
QLabel* CaptionLabel(const QString& text, QLabel* value, QWidget* parent) {
  auto* label = new QLabel(text, parent);
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

// Each control is named after its field, so tests and tools find it by name.
void NameControls(const SettingsPage::Controls& c) {
  const std::pair<QWidget*, const char*> names[] = {
      {c.listenAddress, "listenAddress"},
      {c.port, "port"},
      {c.proxyHost, "proxyHost"},
      {c.proxyPort, "proxyPort"},
      {c.listening, "listening"},
      {c.proxy, "proxy"},
      {c.logDir, "logDir"},
      {c.maxMB, "maxMB"},
      {c.autoLog, "autoLog"},
      {c.logNow, "logNow"},
      {c.inspectHttps, "inspectHttps"},
      {c.caFingerprint, "caFingerprint"},
      {c.exportCa, "exportCa"},
      {c.noInspectHosts, "noInspectHosts"},
      {c.upstreamCaFile, "upstreamCaFile"},
      {c.openBrowser, "openBrowser"},
      {c.sent, "sent"},
      {c.received, "received"},
      {c.sockets, "sockets"},
      {c.held, "held"},
      {c.apply, "apply"},
      {c.defaults, "defaults"},
      {c.clearData, "clearData"},
      {c.exit, "exit"},
      {c.help, "help"},
  };
  for (const auto& [widget, name] : names) {
    widget->setObjectName(QLatin1String(name));
  }
}

}  // namespace

SettingsPage::SettingsPage(UiContext& uiContext, QWidget* parent)
    : Page(parent), context(uiContext) {
  BuildControls();
  NameControls(controls);
  uiContext.app.LoadSettings();
  inspection.Load(uiContext.app.Settings());
  ShowForm();
  controls.port->setFocus();
  Apply();
}

void SettingsPage::BuildControls() {
  QWidget* network = BuildNetworkGroup();
  QWidget* trace = BuildTraceGroup();
  QWidget* https = BuildInspectionGroup();
  QHBoxLayout* counters = BuildCounters();
  QHBoxLayout* buttons = BuildButtons();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(network);
  layout->addWidget(trace);
  layout->addWidget(https);
  layout->addLayout(counters);
  layout->addStretch(1);
  layout->addLayout(buttons);

  SetTabOrder();
  ConnectControls();
}

QWidget* SettingsPage::BuildNetworkGroup() {
  Controls& c = controls;
  auto* network = new QGroupBox(tr("Network Setup"), this);
  c.listenAddress = new QLineEdit(network);
  c.listenAddress->setReadOnly(true);
  c.listenAddress->setFocusPolicy(Qt::ClickFocus);  // shown, not edited: no tab stop
  c.port = new QLineEdit(network);
  c.proxyHost = new QLineEdit(network);
  c.proxyPort = new QLineEdit(network);
  c.listening = ValueLabel(tr("None"), network);
  c.proxy = ValueLabel(tr("None"), network);
  auto* networkGrid = new QGridLayout(network);
  networkGrid->addWidget(BuddyLabel(tr("Relaywatch IP/Name:"), c.listenAddress, network), 0, 0);
  networkGrid->addWidget(c.listenAddress, 0, 1);
  networkGrid->addWidget(BuddyLabel(tr("Relaywatch &Port:"), c.port, network), 0, 2);
  networkGrid->addWidget(c.port, 0, 3);
  networkGrid->addWidget(BuddyLabel(tr("Proxy &IP/Name:"), c.proxyHost, network), 1, 0);
  networkGrid->addWidget(c.proxyHost, 1, 1);
  networkGrid->addWidget(BuddyLabel(tr("Proxy Po&rt:"), c.proxyPort, network), 1, 2);
  networkGrid->addWidget(c.proxyPort, 1, 3);
  networkGrid->addWidget(CaptionLabel(tr("Listening on:"), c.listening, network), 2, 0);
  networkGrid->addWidget(c.listening, 2, 1);
  networkGrid->addWidget(CaptionLabel(tr("Using Proxy at:"), c.proxy, network), 2, 2);
  networkGrid->addWidget(c.proxy, 2, 3);
  networkGrid->setColumnStretch(1, 3);
  networkGrid->setColumnStretch(3, 1);

  return network;
}

QWidget* SettingsPage::BuildTraceGroup() {
  Controls& c = controls;
  auto* trace = new QGroupBox(tr("Trace Options"), this);
  c.logDir = new QLineEdit(trace);
  c.maxMB = new QLineEdit(trace);
  c.autoLog = new QCheckBox(tr("Auto-&Logging"), trace);
  c.logNow = new QPushButton(tr("&Log  and Clear"), trace);
  auto* traceGrid = new QGridLayout(trace);
  traceGrid->addWidget(BuddyLabel(tr("Log Dir&ectory:    (file is time stamped)"), c.logDir, trace),
                       0, 0, 1, 5);
  traceGrid->addWidget(c.logDir, 1, 0, 1, 5);
  traceGrid->addWidget(BuddyLabel(tr("&Max Data Retain (MB):"), c.maxMB, trace), 2, 0);
  traceGrid->addWidget(c.maxMB, 2, 1);
  traceGrid->addWidget(c.autoLog, 2, 2);
  traceGrid->setColumnStretch(3, 1);
  traceGrid->addWidget(c.logNow, 2, 4);
  c.maxMB->setMaximumWidth(c.maxMB->fontMetrics().averageCharWidth() * kMaxMBWidthInCharacters);

  return trace;
}

QHBoxLayout* SettingsPage::BuildCounters() {
  Controls& c = controls;
  auto* counters = new QHBoxLayout;
  c.sent = ValueLabel(tr("0 KB"), this);
  c.received = ValueLabel(tr("0 KB"), this);
  c.sockets = ValueLabel(QStringLiteral("0"), this);
  c.held = ValueLabel(tr("0 KB"), this);
  const std::pair<QString, QLabel*> counterRow[] = {{tr("Sent:"), c.sent},
                                                    {tr("Rcv'd:"), c.received},
                                                    {tr("Socket Count:"), c.sockets},
                                                    {tr("In Buffer:"), c.held}};
  for (const auto& [text, value] : counterRow) {
    counters->addWidget(CaptionLabel(text, value, this));
    counters->addWidget(value, 1);
  }

  return counters;
}

QHBoxLayout* SettingsPage::BuildButtons() {
  Controls& c = controls;
  auto* buttons = new QHBoxLayout;
  c.apply = new QPushButton(tr("&Apply"), this);
  c.defaults = new QPushButton(tr("&Defaults"), this);
  c.clearData = new QPushButton(tr("&Clear Data"), this);
  c.exit = new QPushButton(tr("E&xit"), this);
  c.help = new QPushButton(tr("&Help"), this);
  for (QPushButton* button : {c.apply, c.defaults, c.clearData, c.exit, c.help}) {
    buttons->addWidget(button);
  }
  buttons->insertStretch(4, 1);

  return buttons;
}

void SettingsPage::SetTabOrder() {
  Controls& c = controls;
  // Tab order follows the layout: left to right, then down.
  QWidget* order[] = {c.port,        c.proxyHost, c.proxyPort,      c.logDir,
                      c.maxMB,       c.autoLog,   c.logNow,         c.inspectHttps,
                      c.openBrowser, c.exportCa,  c.noInspectHosts, c.upstreamCaFile,
                      c.apply,       c.defaults,  c.clearData,      c.exit,
                      c.help};
  for (size_t i = 1; i < std::size(order); ++i) {
    setTabOrder(order[i - 1], order[i]);
  }
}

void SettingsPage::ConnectControls() {
  Controls& c = controls;
  connect(c.apply, &QPushButton::clicked, this, &SettingsPage::Apply);
  connect(c.defaults, &QPushButton::clicked, this, &SettingsPage::Defaults);
  connect(c.clearData, &QPushButton::clicked, this, &SettingsPage::ClearData);
  connect(c.exit, &QPushButton::clicked, this, &SettingsPage::Exit);
  connect(c.help, &QPushButton::clicked, this, &SettingsPage::Help);
  connect(c.logNow, &QPushButton::clicked, this, &SettingsPage::LogNow);
  connect(c.exportCa, &QPushButton::clicked, this, &SettingsPage::ExportCaCertificate);
  connect(c.openBrowser, &QPushButton::clicked, this, &SettingsPage::OpenBrowser);
  browserLaunchPoll = new QTimer(this);
  browserLaunchPoll->setInterval(50);
  connect(browserLaunchPoll, &QTimer::timeout, this, &SettingsPage::ShowBrowserOutcome);
}

QWidget* SettingsPage::BuildInspectionGroup() {
  Controls& c = controls;
  auto* group = new QGroupBox(tr("HTTPS"), this);
  c.inspectHttps = new QCheckBox(tr("Inspect H&TTPS"), group);
  c.inspectHttps->setAccessibleName(tr("Inspect HTTPS"));
  c.openBrowser = new QPushButton(tr("Open &Browser"), group);
  c.openBrowser->setAccessibleName(tr("Open Browser"));
  c.openBrowser->setToolTip(
      tr("Start Chromium, Google Chrome or Firefox with a temporary profile that uses "
         "Relaywatch as its proxy and trusts its CA"));
  c.caFingerprint = ValueLabel(tr("None"), group);
  c.caFingerprint->setWordWrap(true);
  c.exportCa = new QPushButton(tr("Export CA Certi&ficate..."), group);
  c.exportCa->setAccessibleName(tr("Export CA Certificate"));
  auto* trustHint =
      new QLabel(tr("To trust the CA, import the exported certificate in the browser's "
                    "certificate manager, or use Open Browser."),
                 group);
  trustHint->setWordWrap(true);
  c.noInspectHosts = new QLineEdit(group);
  c.noInspectHosts->setPlaceholderText(tr("pinned.example.com, *.bank.example"));
  c.upstreamCaFile = new QLineEdit(group);
  c.upstreamCaFile->setPlaceholderText(tr("PEM file (optional)"));

  auto* grid = new QGridLayout(group);
  grid->addWidget(c.inspectHttps, 0, 0);
  grid->addWidget(c.openBrowser, 0, 2);
  grid->addWidget(CaptionLabel(tr("CA SHA-256:"), c.caFingerprint, group), 1, 0);
  grid->addWidget(c.caFingerprint, 1, 1);
  grid->addWidget(c.exportCa, 1, 2);
  grid->addWidget(trustHint, 2, 0, 1, 3);
  grid->addWidget(BuddyLabel(tr("&No-inspect hosts (kept as tunnels):"), c.noInspectHosts, group),
                  3, 0);
  grid->addWidget(c.noInspectHosts, 3, 1, 1, 2);
  grid->addWidget(BuddyLabel(tr("Trusted CA file for &servers:"), c.upstreamCaFile, group), 4, 0);
  grid->addWidget(c.upstreamCaFile, 4, 1, 1, 2);
  grid->setColumnStretch(1, 1);

  chooseExportPath = [](QWidget* parent) {
    return QFileDialog::getSaveFileName(parent, tr("Export CA Certificate"),
                                        QDir::home().filePath(QStringLiteral("relaywatch-ca.pem")),
                                        tr("PEM certificates (*.pem *.crt);;All files (*)"));
  };
  return group;
}

void SettingsPage::ShowAuthority() {
  const tls::InspectionSettings& inForce = context.app.Inspection();
  if (inForce.On()) {
    controls.caFingerprint->setText(
        ToQString(tls::CertificateSha256Fingerprint(inForce.authority->Certificate())));
  } else {
    controls.caFingerprint->setText(tr("None: HTTPS inspection is off"));
  }
  controls.exportCa->setEnabled(inForce.On());
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
  controls.inspectHttps->setChecked(inspection.inspectHttps);
  controls.noInspectHosts->setText(ToQString(inspection.noInspectHosts));
  controls.upstreamCaFile->setText(ToQString(inspection.upstreamCaFile));
  ShowAuthority();
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
  inspection.inspectHttps = controls.inspectHttps->isChecked();
  inspection.noInspectHosts = ToStdString(controls.noInspectHosts->text());
  inspection.upstreamCaFile = ToStdString(controls.upstreamCaFile->text());
}

void SettingsPage::Apply() {
  ReadForm();
  // The listener reports its own failures; the listening label then reads "None".
  context.app.ApplySettings(context.app.Form(), {.save = true, .listen = true});
  // Saved as typed, like the other values; new connections use what Apply put in force.
  inspection.Save(context.app.Settings());
  inspection.Load(context.app.Settings());
  const std::string problem = [&] {
    WaitCursor busy;  // the first start with inspection on creates the CA's key
    return inspection.Apply(context.app);
  }();
  ShowForm();
  if (!problem.empty()) {
    context.boxes.Message(window(), ToQString(problem));
  }
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

void SettingsPage::ExportCaCertificate() {
  const tls::InspectionSettings& inForce = context.app.Inspection();
  if (!inForce.On()) {
    return;
  }
  const QString path = chooseExportPath(window());
  if (path.isEmpty()) {
    return;
  }
  const std::string problem = app::ExportCaCertificate(*inForce.authority, ToStdString(path));
  if (problem.empty()) {
    context.boxes.Information(window(), tr("CA certificate saved as %1").arg(path));
  } else {
    context.boxes.Message(window(),
                          tr("Cannot export the CA certificate: %1").arg(ToQString(problem)));
  }
}

void SettingsPage::OpenBrowser() {
  const uint16_t port = context.app.Listener().BoundPort();
  if (port == 0) {
    context.boxes.Message(window(), tr("Relaywatch is not listening: set a port and Apply first."));
    return;
  }
  if (browserLaunch.valid()) {
    return;  // one launch at a time; the button is off meanwhile
  }
  // The launcher watches the browser start for up to two seconds; the window stays live.
  browserLaunch = app::BrowserLauncher::LaunchInBackground(
      app::BrowserLauncher::RequestFor(port, context.app.Inspection()));
  controls.openBrowser->setEnabled(false);
  browserLaunchPoll->start();
}

void SettingsPage::ShowBrowserOutcome() {
  if (!browserLaunch.valid() ||
      browserLaunch.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    return;
  }
  browserLaunchPoll->stop();
  const app::BrowserLaunchResult result = browserLaunch.get();
  controls.openBrowser->setEnabled(true);
  if (result.ok) {
    context.boxes.Information(window(), ToQString(result.message));
  } else {
    context.boxes.Message(window(), ToQString(result.message));
  }
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
