#include "headless/headless_runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "app/browser_launcher.h"
#include "app/inspection_choice.h"
#include "app/own_address_upstream.h"
#include "app/proxy_app.h"
#include "app/settings_schema.h"
#include "headless/console_reporter.h"
#include "headless/exchange_printer.h"
#include "headless/run_report.h"
#include "platform/directory_check.h"
#include "platform/error_text.h"
#include "platform/process_setup.h"
#include "platform/signal_set.h"

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

}  // namespace

HeadlessRunner::HeadlessRunner(const app::CommandLine& options) : options(options) {}

int HeadlessRunner::Run() {
  // Block the signals before any thread starts, so every thread inherits the mask and the main
  // thread alone receives them by waiting for them, between upkeep ticks. Closing the terminal
  // (SIGHUP) stops in order like Ctrl+C, so that auto-logging still writes the logs.
  // SIGUSR2 is the store asking for an early upkeep (see ConsoleReporter::UpkeepDue).
  // A SIGHUP ignored at start (nohup) stays ignored. (SIGINT is left in: a shell starts a
  // background job with it ignored, and Ctrl+C or kill -INT still stops the run.)
  platform::SignalSet signals{platform::Signal::kInterrupt, platform::Signal::kTerminate,
                              platform::Signal::kHangUp, platform::Signal::kUser1,
                              platform::Signal::kUser2};
  signals.LeaveOutIfIgnored(platform::Signal::kHangUp);
  signals.Block();
  platform::IgnoreSigpipe();
  platform::RaiseOpenFileLimit();

  ConsoleReporter reporter;
  // Connection threads call the printer until the application has stopped them: it outlives them.
  ExchangePrinter printer(stdout, !options.quiet);
  const std::filesystem::path settingsDirectory = platform::SettingsBacking::DefaultKeyDirectory();
  app::ProxyApp app(app::SettingsStore(platform::SettingsBacking(settingsDirectory)), reporter,
                    reporter);
  app.Store().SetExchangeObserver(&printer);
  app.LoadSettings();

  // Start-up applies and saves the stored settings, exactly as the window does; options then
  // override them for this run without being saved. Listening waits until the log directory and
  // the HAR file are known to be usable.
  app::SettingsForm& form = app.Form();
  if (options.HasOverrides()) {
    app::SettingsForm stored = form;
    app.ApplySettings(stored, {.save = true, .listen = false});
    options.ApplyOverrides(form);
  }
  // Refused before anything is put into force: the run would only relay to itself.
  if (const std::string problem = app::OwnAddressUpstreamProblem(form.ProxySettingsAsApplied());
      !problem.empty()) {
    PrintError(problem);
    app.Store().SetAutoLog(false);
    app.Shutdown(std::chrono::seconds(1));
    return 2;
  }
  std::string askedText = form.maxMB;
  const int32_t askedMB = app::NumberField(askedText);
  app.ApplySettings(form, {.save = !options.HasOverrides(), .listen = false});
  const bool autoLog = app.Store().AutoLog();

  if (autoLog) {
    const std::string problem =
        DirectoryProblem(app.Store().LogDir(), platform::CheckDirectory(app.Store().LogDir()));
    if (!problem.empty()) {
      PrintError(problem);
      app.Store().SetAutoLog(false);
      app.Shutdown(std::chrono::seconds(1));
      return 2;
    }
  }
  // HTTPS inspection: the certificate authority, the server trust store and the no-inspect hosts
  // are ready before listening, so that a bad key or file stops the start. An --upstream-ca given
  // without inspection is still checked: the user named that file for this run.
  const app::InspectionChoice inspection =
      app::ChooseInspection(options, app.Settings(), settingsDirectory);
  std::string inspectionProblem;
  if (inspection.on) {
    tls::InspectionSetup prepared = tls::PrepareInspection(inspection.request);
    if (!prepared.error.empty()) {
      inspectionProblem = "HTTPS inspection cannot start: " + prepared.error;
    }
    const std::string contexts = app.SetInspection(std::move(prepared.settings));
    if (inspectionProblem.empty() && !contexts.empty()) {
      inspectionProblem = "HTTPS inspection cannot start: " + contexts;
    }
  } else if (options.upstreamCaFile) {
    const tls::TrustStore::LoadResult trust = tls::TrustStore::Load(*options.upstreamCaFile);
    if (trust.store == nullptr) {
      inspectionProblem = "--upstream-ca: " + trust.error;
    }
  }
  if (!inspectionProblem.empty()) {
    PrintError(inspectionProblem);
    app.Store().SetAutoLog(false);
    app.Shutdown(std::chrono::seconds(1));
    return 2;
  }
  if (options.harFile &&
      !app.SetHarFile(*options.harFile, capture::HarCreator{"Relaywatch", RELAYWATCH_VERSION})) {
    PrintError("cannot write the HAR file: " + app.HarFile()->LastError());
    app.Store().SetAutoLog(false);
    app.Shutdown(std::chrono::seconds(1));
    return 2;
  }

  if (!app.Listener().StartListening()) {
    const ConsoleReporter::ListenFailure failure = reporter.LastListenFailure();
    if (failure.seen) {
      PrintError(ListenFailureLine(
          "127.0.0.1", failure.port, platform::ErrorText(failure.errorNumber),
          options.port ? std::string() : std::string(app::setting::kHttpPort.name),
          settingsDirectory.string()));
    }
    app.Store().SetAutoLog(false);
    app.Shutdown(std::chrono::seconds(1));
    return 1;
  }

  BannerFacts banner;
  banner.version = RELAYWATCH_VERSION;
  banner.port = app.Listener().BoundPort();
  banner.upstream = form.proxyLabel;
  banner.maxMB = app.Store().MaxMB();
  banner.askedMB = askedMB;
  banner.logDir = app.Store().LogDir();
  banner.textLog = app.Store().TextLogName();
  banner.csvLog = app.Store().CsvLogName();
  banner.autoLog = autoLog;
  banner.harPath = options.harFile.value_or("");
  banner.quiet = options.quiet;
  if (app.Inspection().On()) {
    banner.caCertificate = app.Inspection().authority->CertificatePath();
  }
  Print(FormatBanner(banner), {});
  if (options.openBrowser) {
    // A browser that cannot start is reported and the run goes on: the proxy is still useful.
    const app::BrowserLaunchResult opened = app::BrowserLauncher().Launch(
        app::BrowserLauncher::RequestFor(app.Listener().BoundPort(), app.Inspection()));
    if (opened.ok) {
      Print("Opened browser: " + opened.command + "\n", {});
    } else {
      PrintError(opened.message);
    }
  }
  printer.Start();

  // A new HAR document started because the file was changed is said once, when it happens.
  auto printHarNotice = [&] {
    if (capture::HarLog* har = app.HarFile()) {
      if (const std::string notice = har->TakeNotice(); !notice.empty()) {
        PrintError(notice);
      }
    }
  };
  // A failed pass turns auto-logging off (the store's rule); say so once per failure.
  bool lastHarOk = true;
  auto reportHar = [&] {
    capture::HarLog* har = app.HarFile();
    if (har == nullptr) {
      return;
    }
    printHarNotice();
    if (har->LastWriteOk() != lastHarOk) {
      lastHarOk = har->LastWriteOk();
      if (!lastHarOk) {
        PrintError("HAR file failed: " + har->LastError());
      }
    }
  };

  auto upkeep = [&](app::ProxyApp::UpkeepKind kind) {
    if (!app.Upkeep(kind)) {
      PrintError("Log File failed; auto-logging is off until the next start");
    }
    reportHar();
  };
  // Early upkeeps come between ticks and do not move the next tick.
  auto nextTick = std::chrono::steady_clock::now() + kUpkeepPeriod;
  for (;;) {
    const auto untilTick =
        std::chrono::ceil<std::chrono::milliseconds>(nextTick - std::chrono::steady_clock::now());
    const platform::SignalSet::WaitResult waited =
        signals.Wait(std::max(untilTick, std::chrono::milliseconds(0)));
    if (waited.outcome == platform::SignalSet::Outcome::kTimedOut) {
      upkeep(app::ProxyApp::UpkeepKind::kTick);
      nextTick = std::chrono::steady_clock::now() + kUpkeepPeriod;
      continue;
    }
    if (waited.outcome == platform::SignalSet::Outcome::kSignal &&
        waited.signal == platform::Signal::kUser2) {
      upkeep(app::ProxyApp::UpkeepKind::kEarly);
      continue;
    }
    if (waited.outcome == platform::SignalSet::Outcome::kSignal &&
        waited.signal == platform::Signal::kUser1) {
      const app::ProxyApp::LogNowResult logged = app.LogNow();
      printHarNotice();
      const capture::HarLog* har = app.HarFile();
      const Report report = FormatLogNowResult(
          logged.written, logged.exchanges, app.Store().TextLogName(), app.Store().CsvLogName(),
          har != nullptr ? har->Path() : std::string(), har == nullptr || har->LastWriteOk(),
          har != nullptr ? har->EntriesWritten() : 0,
          har != nullptr ? har->LastError() : std::string());
      Print(report.out, report.err);
      if (!logged.written && autoLog) {
        PrintError("auto-logging is off until the next start");
      }
      if (har != nullptr) {
        lastHarOk = har->LastWriteOk();
      }
      continue;
    }
    break;  // a stop signal, or a wait that failed
  }

  Print("Stopping...\n", {});
  StopFacts facts;
  facts.textLog = app.Store().TextLogName();
  facts.csvLog = app.Store().CsvLogName();
  // Asked for at start, auto-logging writes everything at stop even if a failed pass turned it
  // off on the way: this is the last chance to keep the data.
  facts.autoLog = autoLog;
  app.Store().SetAutoLog(autoLog);
  const bool clean = app.Shutdown(std::chrono::seconds(5));
  printer.Stop();
  const app::ProxyApp::FinalLogPass& pass = app.LastFinalLogPass();
  facts.logsWritten = pass.written;
  facts.unsaved = pass.unsaved;
  facts.exchanges = printer.Completed();
  facts.linesDropped = printer.Dropped();
  if (const capture::HarLog* har = app.HarFile()) {
    facts.harPath = har->Path();
    facts.harWritten = har->LastWriteOk();
    facts.harEntries = har->EntriesWritten();
    facts.harError = har->LastError();
    facts.harDropped = har->EntriesDropped();
  }
  printHarNotice();
  const Report summary = FormatStopSummary(facts);
  Print(summary.out, summary.err);
  const int status = summary.failed || reporter.FatalSeen() ? 1 : 0;
  if (!clean) {
    PrintError("some connections did not end in time");
    // Those connections still use the store, the engine, the reporter and the printer on this
    // stack: end the process here (the logs are closed) rather than let any of them go.
    platform::EndProcessNow(status);
  }
  return status;
}

}  // namespace rw::headless
