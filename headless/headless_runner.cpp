#include "headless/headless_runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>

#include "app/browser_launcher.h"
#include "app/inspection_choice.h"
#include "app/own_address_upstream.h"
#include "app/settings_schema.h"
#include "headless/run_report.h"
#include "platform/directory_check.h"
#include "platform/error_text.h"
#include "platform/process_setup.h"

namespace rw::headless {
namespace {

constexpr std::chrono::milliseconds kUpkeepPeriod{4000};

void Print(const std::string& out, const std::string& err) {
  if (!out.empty()) {
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
  }
  if (!err.empty()) {
    std::fputs(err.c_str(), stderr);
    std::fflush(stderr);
  }
}

void PrintError(const std::string& text) {
  Print({}, "relaywatch: " + text + "\n");
}

// Blocks the signals before any thread starts, so every thread inherits the mask and the main
// thread alone receives them by waiting for them, between upkeep ticks. Closing the terminal
// (SIGHUP) stops in order like Ctrl+C, so that auto-logging still writes the logs.
// SIGUSR2 is the store asking for an early upkeep (see ConsoleReporter::UpkeepDue).
// A SIGHUP ignored at start (nohup) stays ignored. (SIGINT is left in: a shell starts a
// background job with it ignored, and Ctrl+C or kill -INT still stops the run.)
platform::SignalSet TakeSignals() {
  platform::SignalSet signals{platform::Signal::kInterrupt, platform::Signal::kTerminate,
                              platform::Signal::kHangUp, platform::Signal::kUser1,
                              platform::Signal::kUser2};
  signals.LeaveOutIfIgnored(platform::Signal::kHangUp);
  signals.Block();
  platform::IgnoreSigpipe();
  platform::RaiseOpenFileLimit();
  return signals;
}

}  // namespace

HeadlessRunner::HeadlessRunner(const app::CommandLine& commandLine)
    : options(commandLine),
      signals(TakeSignals()),
      printer(stdout, !commandLine.quiet),
      settingsDirectory(platform::SettingsBacking::DefaultKeyDirectory()),
      proxyApp(app::SettingsStore(platform::SettingsBacking(settingsDirectory)), reporter,
               reporter) {
  proxyApp.Store().SetExchangeObserver(&printer);
}

int HeadlessRunner::Run() {
  std::optional<StartFailure> failure = PrepareSettings();
  if (!failure) {
    failure = CheckOutputs();
  }
  if (!failure) {
    failure = Listen();
  }
  if (failure) {
    return FailStart(*failure);
  }
  PrintBanner();
  if (options.openBrowser) {
    OpenBrowser();
  }
  printer.Start();
  WaitForStop();
  return Stop();
}

// Start-up applies and saves the stored settings, exactly as the window does; options then
// override them for this run without being saved.
std::optional<HeadlessRunner::StartFailure> HeadlessRunner::PrepareSettings() {
  proxyApp.LoadSettings();
  app::SettingsForm& form = proxyApp.Form();
  if (options.HasOverrides()) {
    app::SettingsForm stored = form;
    proxyApp.ApplySettings(stored, {.save = true, .listen = false});
    options.ApplyOverrides(form);
  }
  // Refused before anything is put into force: the run would only relay to itself.
  if (std::string problem = app::OwnAddressUpstreamProblem(form.ProxySettingsAsApplied());
      !problem.empty()) {
    return StartFailure{2, std::move(problem)};
  }
  std::string askedText = form.maxMB;
  askedMB = app::NumberField(askedText);
  proxyApp.ApplySettings(form, {.save = !options.HasOverrides(), .listen = false});
  autoLog = proxyApp.Store().AutoLog();
  return std::nullopt;
}

// Listening waits until the log directory, HTTPS inspection and the HAR file are known to be
// usable.
std::optional<HeadlessRunner::StartFailure> HeadlessRunner::CheckOutputs() {
  if (autoLog) {
    const std::string logDir = proxyApp.Store().LogDir();
    if (std::string problem = DirectoryProblem(logDir, platform::CheckDirectory(logDir));
        !problem.empty()) {
      return StartFailure{2, std::move(problem)};
    }
  }
  if (std::string problem = PrepareInspection(); !problem.empty()) {
    return StartFailure{2, std::move(problem)};
  }
  if (options.harFile &&
      !proxyApp.SetHarFile(*options.harFile,
                           capture::HarCreator{"Relaywatch", RELAYWATCH_VERSION})) {
    return StartFailure{2, "cannot write the HAR file: " + proxyApp.HarFile()->LastError()};
  }
  return std::nullopt;
}

// HTTPS inspection: the certificate authority, the server trust store and the no-inspect hosts
// are ready before listening, so that a bad key or file stops the start. An --upstream-ca given
// without inspection is still checked: the user named that file for this run. Returns the
// problem, or nothing.
std::string HeadlessRunner::PrepareInspection() {
  const app::InspectionChoice inspection =
      app::ChooseInspection(options, proxyApp.Settings(), settingsDirectory);
  if (inspection.on) {
    tls::InspectionSetup prepared = tls::PrepareInspection(inspection.request);
    const std::string contexts = proxyApp.SetInspection(std::move(prepared.settings));
    const std::string& error = prepared.error.empty() ? contexts : prepared.error;
    return error.empty() ? std::string() : "HTTPS inspection cannot start: " + error;
  }
  if (options.upstreamCaFile) {
    const tls::TrustStore::LoadResult trust = tls::TrustStore::Load(*options.upstreamCaFile);
    if (trust.store == nullptr) {
      return "--upstream-ca: " + trust.error;
    }
  }
  return {};
}

std::optional<HeadlessRunner::StartFailure> HeadlessRunner::Listen() {
  if (proxyApp.Listener().StartListening()) {
    return std::nullopt;
  }
  const ConsoleReporter::ListenFailure failure = reporter.LastListenFailure();
  if (!failure.seen) {
    return StartFailure{1, {}};
  }
  return StartFailure{
      1, ListenFailureLine("127.0.0.1", failure.port, platform::ErrorText(failure.errorNumber),
                           options.port ? std::string() : std::string(app::setting::kHttpPort.name),
                           settingsDirectory.string())};
}

int HeadlessRunner::FailStart(const StartFailure& failure) {
  if (!failure.message.empty()) {
    PrintError(failure.message);
  }
  proxyApp.Store().SetAutoLog(false);
  proxyApp.Shutdown(std::chrono::seconds(1));
  return failure.status;
}

void HeadlessRunner::PrintBanner() {
  capture::ConversationStore& store = proxyApp.Store();
  BannerFacts banner;
  banner.version = RELAYWATCH_VERSION;
  banner.port = proxyApp.Listener().BoundPort();
  banner.upstream = proxyApp.Form().proxyLabel;
  banner.maxMB = store.MaxMB();
  banner.askedMB = askedMB;
  banner.logDir = store.LogDir();
  banner.textLog = store.TextLogName();
  banner.csvLog = store.CsvLogName();
  banner.autoLog = autoLog;
  banner.harPath = options.harFile.value_or("");
  banner.quiet = options.quiet;
  if (proxyApp.Inspection().On()) {
    banner.caCertificate = proxyApp.Inspection().authority->CertificatePath();
  }
  Print(FormatBanner(banner), {});
}

// A browser that cannot start is reported and the run goes on: the proxy is still useful.
void HeadlessRunner::OpenBrowser() {
  const app::BrowserLaunchResult opened = app::BrowserLauncher().Launch(
      app::BrowserLauncher::RequestFor(proxyApp.Listener().BoundPort(), proxyApp.Inspection()));
  if (opened.ok) {
    Print("Opened browser: " + opened.command + "\n", {});
  } else {
    PrintError(opened.message);
  }
}

// Upkeep on every tick, early upkeep and log passes on request, until a stop signal or a wait
// that failed. Early upkeeps come between ticks and do not move the next tick.
void HeadlessRunner::WaitForStop() {
  auto nextTick = std::chrono::steady_clock::now() + kUpkeepPeriod;
  for (;;) {
    const auto untilTick =
        std::chrono::ceil<std::chrono::milliseconds>(nextTick - std::chrono::steady_clock::now());
    const platform::SignalSet::WaitResult waited =
        signals.Wait(std::max(untilTick, std::chrono::milliseconds(0)));
    if (waited.outcome == platform::SignalSet::Outcome::kTimedOut) {
      Upkeep(app::ProxyApp::UpkeepKind::kTick);
      nextTick = std::chrono::steady_clock::now() + kUpkeepPeriod;
      continue;
    }
    if (waited.outcome != platform::SignalSet::Outcome::kSignal) {
      return;
    }
    switch (waited.signal) {
      case platform::Signal::kUser2:
        Upkeep(app::ProxyApp::UpkeepKind::kEarly);
        break;
      case platform::Signal::kUser1:
        LogNow();
        break;
      default:
        return;
    }
  }
}

void HeadlessRunner::Upkeep(app::ProxyApp::UpkeepKind kind) {
  if (!proxyApp.Upkeep(kind)) {
    PrintError("Log File failed; auto-logging is off until the next start");
  }
  ReportHar();
}

// SIGUSR1: every complete exchange to the log files (and the HAR file) now, then freed.
void HeadlessRunner::LogNow() {
  const app::ProxyApp::LogNowResult logged = proxyApp.LogNow();
  PrintHarNotice();
  const capture::HarLog* har = proxyApp.HarFile();
  const Report report = FormatLogNowResult(
      logged.written, logged.exchanges, proxyApp.Store().TextLogName(),
      proxyApp.Store().CsvLogName(), har != nullptr ? har->Path() : std::string(),
      har == nullptr || har->LastWriteOk(), har != nullptr ? har->EntriesWritten() : 0,
      har != nullptr ? har->LastError() : std::string());
  Print(report.out, report.err);
  if (!logged.written && autoLog) {
    PrintError("auto-logging is off until the next start");
  }
  if (har != nullptr) {
    lastHarOk = har->LastWriteOk();
  }
}

// A failed pass turns auto-logging off (the store's rule); say so once per failure.
void HeadlessRunner::ReportHar() {
  capture::HarLog* har = proxyApp.HarFile();
  if (har == nullptr) {
    return;
  }
  PrintHarNotice();
  if (har->LastWriteOk() != lastHarOk) {
    lastHarOk = har->LastWriteOk();
    if (!lastHarOk) {
      PrintError("HAR file failed: " + har->LastError());
    }
  }
}

// A new HAR document started because the file was changed is said once, when it happens.
void HeadlessRunner::PrintHarNotice() {
  if (capture::HarLog* har = proxyApp.HarFile()) {
    if (const std::string notice = har->TakeNotice(); !notice.empty()) {
      PrintError(notice);
    }
  }
}

int HeadlessRunner::Stop() {
  Print("Stopping...\n", {});
  StopFacts facts;
  facts.textLog = proxyApp.Store().TextLogName();
  facts.csvLog = proxyApp.Store().CsvLogName();
  // Asked for at start, auto-logging writes everything at stop even if a failed pass turned it
  // off on the way: this is the last chance to keep the data.
  facts.autoLog = autoLog;
  proxyApp.Store().SetAutoLog(autoLog);
  const bool clean = proxyApp.Shutdown(std::chrono::seconds(5));
  printer.Stop();
  facts.logsWritten = proxyApp.LastFinalLogPass().written;
  facts.unsaved = proxyApp.LastFinalLogPass().unsaved;
  facts.exchanges = printer.Completed();
  facts.linesDropped = printer.Dropped();
  if (const capture::HarLog* har = proxyApp.HarFile()) {
    facts.harPath = har->Path();
    facts.harWritten = har->LastWriteOk();
    facts.harEntries = har->EntriesWritten();
    facts.harError = har->LastError();
    facts.harDropped = har->EntriesDropped();
  }
  PrintHarNotice();
  const Report summary = FormatStopSummary(facts);
  Print(summary.out, summary.err);
  const int status = summary.failed || reporter.FatalSeen() ? 1 : 0;
  if (!clean) {
    PrintError("some connections did not end in time");
    // Those connections still use the store, the engine, the reporter and the printer of this
    // runner: end the process here (the logs are closed) rather than let any of them go.
    platform::EndProcessNow(status);
  }
  return status;
}

}  // namespace rw::headless
