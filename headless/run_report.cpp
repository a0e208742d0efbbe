#include "headless/run_report.h"

#include "platform/error_text.h"

namespace rw::headless {
namespace {

std::string Exchanges(int64_t count) {
  return std::to_string(count) + (count == 1 ? " exchange" : " exchanges");
}

std::string Entries(int count) {
  return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

std::string LogFilesText(const std::string& textLog, const std::string& csvLog) {
  return textLog + " (full text), " + csvLog + " (stats)";
}

}  // namespace

std::string FormatBanner(const BannerFacts& facts) {
  std::string text = "Relaywatch " + facts.version +
                     " listening on 127.0.0.1:" + std::to_string(facts.port) + "\n";
  if (!facts.upstream.empty()) {
    text += "Forwarding through the upstream proxy at " + facts.upstream + "\n";
  }
  if (!facts.caCertificate.empty()) {
    text += "HTTPS inspection: on (CA certificate: " + facts.caCertificate + ")\n";
  }
  text += "Memory limit: " + std::to_string(facts.maxMB) + " MB";
  if (facts.askedMB > 0 && facts.askedMB < facts.maxMB) {
    text += " (raised from " + std::to_string(facts.askedMB) +
            " MB: " + std::to_string(facts.maxMB) + " MB is the lowest limit)";
  }
  text += "\n";
  text += "Log directory: " + facts.logDir + "\n";
  text += "Log files: " + LogFilesText(facts.textLog, facts.csvLog) + "\n";
  if (facts.autoLog) {
    text += "Auto-logging: on (exchanges over the limit, and all at stop, go to the log files)\n";
  } else {
    text +=
        "Auto-logging: off (exchanges over the limit are dropped and none are written at stop; "
        "--auto-log keeps them)\n";
  }
  if (!facts.harPath.empty()) {
    text += "HAR file: " + facts.harPath + "\n";
  }
  if (facts.quiet) {
    text += "Exchange lines: off (--quiet)\n";
  }
  text += "Press Ctrl+C to stop; send SIGUSR1 to write the logs now.\n";
  return text;
}

Report FormatStopSummary(const StopFacts& facts) {
  Report report;
  report.out = "Captured " + Exchanges(facts.exchanges) + ".\n";
  if (facts.autoLog && facts.logsWritten) {
    report.out += "Log files: " + LogFilesText(facts.textLog, facts.csvLog) + "\n";
  } else if (facts.autoLog) {
    report.failed = true;
    report.err += "relaywatch: Log File failed: the final log pass did not write " +
                  LogFilesText(facts.textLog, facts.csvLog) + "; " + Exchanges(facts.unsaved) +
                  " not saved\n";
  } else if (facts.harPath.empty()) {
    report.out +=
        "Not written to log files: auto-logging is off (--auto-log or --har FILE keeps them).\n";
  } else {
    report.out += "Not written to log files: auto-logging is off (--auto-log keeps them).\n";
  }
  if (!facts.harPath.empty()) {
    if (facts.harWritten) {
      report.out += "HAR file: " + facts.harPath + " (" + Entries(facts.harEntries) + ")\n";
    } else {
      report.failed = true;
      report.err += "relaywatch: HAR file failed: " + facts.harError + "\n";
    }
    if (facts.harDropped > 0) {
      report.failed = true;
      report.err += "relaywatch: " + std::to_string(facts.harDropped) +
                    (facts.harDropped == 1 ? " exchange was" : " exchanges were") +
                    " left out of the HAR file: it could not be written for too long\n";
    }
  }
  if (facts.linesDropped > 0) {
    report.err += "relaywatch: " + std::to_string(facts.linesDropped) +
                  " exchange lines were not printed (the output could not keep up)\n";
  }
  return report;
}

Report FormatLogNowResult(bool written, int64_t exchangesWritten, const std::string& textLog,
                          const std::string& csvLog, const std::string& harPath, bool harWritten,
                          int harEntries, const std::string& harError) {
  Report report;
  if (written) {
    report.out = "Logged and cleared " + Exchanges(exchangesWritten) + ": " +
                 LogFilesText(textLog, csvLog) + "\n";
  } else {
    report.failed = true;
    report.err = "relaywatch: Log File failed\n";
  }
  if (!harPath.empty()) {
    if (harWritten) {
      report.out += "HAR file: " + harPath + " (" + Entries(harEntries) + ")\n";
    } else {
      report.failed = true;
      report.err += "relaywatch: HAR file failed: " + harError + "\n";
    }
  }
  return report;
}

std::string DirectoryProblem(const std::string& path, const platform::DirectoryCheck& check) {
  const std::string prefix = "cannot use the log directory " + path + ": ";
  switch (check.state) {
    case platform::DirectoryState::kUsable:
      return {};
    case platform::DirectoryState::kMissing:
      return prefix + "it does not exist";
    case platform::DirectoryState::kNotADirectory:
      return prefix + "it is not a directory";
    case platform::DirectoryState::kNotWritable:
      return prefix + "it is not writable (" + platform::ErrorText(check.errorNumber) + ")";
  }
  return {};
}

std::string ListenFailureLine(const std::string& address, int port, const std::string& reason,
                              const std::string& storedSettingName,
                              const std::string& settingsDirectory) {
  std::string line = "cannot listen on " + address + ":" + std::to_string(port) + ": " + reason;
  if (!storedSettingName.empty()) {
    line += " (the port is the stored setting " + storedSettingName + " in " + settingsDirectory +
            "; --port N overrides it)";
  }
  return line;
}

}  // namespace rw::headless
