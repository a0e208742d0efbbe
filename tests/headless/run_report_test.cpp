#include "headless/run_report.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace rw::headless {
namespace {

BannerFacts Banner() {
  BannerFacts facts;
  facts.version = "3.0.2";
  facts.port = 8010;
  facts.maxMB = 8;
  facts.askedMB = 8;
  facts.logDir = "/home/u";
  facts.textLog = "/home/u/rwlog_20261208_223501.txt";
  facts.csvLog = "/home/u/rwlog_20261208_223501.csv";
  return facts;
}

TEST(RunReport, Banner) {
  BannerFacts facts = Banner();
  EXPECT_EQ(FormatBanner(facts),
            "Relaywatch 3.0.2 listening on 127.0.0.1:8010\n"
            "Memory limit: 8 MB\n"
            "Log directory: /home/u\n"
            "Log files: /home/u/rwlog_20261208_223501.txt (full text), "
            "/home/u/rwlog_20261208_223501.csv (stats)\n"
            "Auto-logging: off (exchanges over the limit are dropped and none are written at "
            "stop; --auto-log keeps them)\n"
            "Press Ctrl+C to stop; send SIGUSR1 to write the logs now.\n");

  facts.maxMB = 4;
  facts.askedMB = 1;
  facts.autoLog = true;
  facts.upstream = "up.test:3128";
  facts.harPath = "/tmp/c.har";
  facts.quiet = true;
  facts.caCertificate = "/c/ca/relaywatch-ca.pem";
  const std::string text = FormatBanner(facts);
  EXPECT_NE(text.find("\nHTTPS inspection: on (CA certificate: /c/ca/relaywatch-ca.pem)\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nForwarding through the upstream proxy at up.test:3128\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nMemory limit: 4 MB (raised from 1 MB: 4 MB is the lowest limit)\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nAuto-logging: on"), std::string::npos);
  EXPECT_NE(text.find("\nHAR file: /tmp/c.har\n"), std::string::npos);
  EXPECT_NE(text.find("\nExchange lines: off (--quiet)\n"), std::string::npos);

  // 0 asks for the default, which is no raise.
  facts.askedMB = 0;
  facts.maxMB = 8;
  EXPECT_EQ(FormatBanner(facts).find("raised"), std::string::npos);
}

TEST(RunReport, StopSummary) {
  StopFacts facts;
  facts.exchanges = 5;
  facts.textLog = "/l/a.txt";
  facts.csvLog = "/l/a.csv";

  // Auto-logging off: the data is not kept, and the summary says which option would keep it.
  Report report = FormatStopSummary(facts);
  EXPECT_EQ(
      report.out,
      "Captured 5 exchanges.\n"
      "Not written to log files: auto-logging is off (--auto-log or --har FILE keeps them).\n");
  EXPECT_EQ(report.err, "");
  EXPECT_FALSE(report.failed);

  facts.autoLog = true;
  facts.logsWritten = true;
  report = FormatStopSummary(facts);
  EXPECT_EQ(report.out,
            "Captured 5 exchanges.\nLog files: /l/a.txt (full text), /l/a.csv (stats)\n");
  EXPECT_FALSE(report.failed);

  // A failed final pass: no success line, a failure that says what was lost.
  facts.logsWritten = false;
  facts.unsaved = 1;
  report = FormatStopSummary(facts);
  EXPECT_EQ(report.out.find("Log files:"), std::string::npos);
  EXPECT_EQ(report.err,
            "relaywatch: Log File failed: the final log pass did not write /l/a.txt (full text), "
            "/l/a.csv (stats); 1 exchange not saved\n");
  EXPECT_TRUE(report.failed);

  facts.autoLog = false;
  facts.exchanges = 1;
  facts.harPath = "/h.har";
  facts.harWritten = true;
  facts.harEntries = 1;
  facts.linesDropped = 3;
  report = FormatStopSummary(facts);
  EXPECT_EQ(report.out,
            "Captured 1 exchange.\n"
            "Not written to log files: auto-logging is off (--auto-log keeps them).\n"
            "HAR file: /h.har (1 entry)\n");
  EXPECT_EQ(report.err,
            "relaywatch: 3 exchange lines were not printed (the output could not keep up)\n");
  EXPECT_FALSE(report.failed);

  facts.harWritten = false;
  facts.harError = "Could not write /h.har: No space left on device";
  report = FormatStopSummary(facts);
  EXPECT_EQ(report.out.find("HAR file:"), std::string::npos);
  EXPECT_NE(report.err.find("relaywatch: HAR file failed: Could not write /h.har"),
            std::string::npos);
  EXPECT_TRUE(report.failed);

  // Written in the end, but with entries that waited too long left out: not a clean stop.
  facts.harWritten = true;
  facts.harDropped = 7;
  facts.linesDropped = 0;
  report = FormatStopSummary(facts);
  EXPECT_NE(report.out.find("HAR file: /h.har (1 entry)"), std::string::npos);
  EXPECT_EQ(report.err,
            "relaywatch: 7 exchanges were left out of the HAR file: it could not be written for "
            "too long\n");
  EXPECT_TRUE(report.failed);
}

TEST(RunReport, LogNowResult) {
  Report report = FormatLogNowResult(true, 3, "/l/a.txt", "/l/a.csv", "", true, 0, "");
  EXPECT_EQ(report.out, "Logged and cleared 3 exchanges: /l/a.txt (full text), /l/a.csv (stats)\n");
  EXPECT_FALSE(report.failed);
  report = FormatLogNowResult(false, 0, "/l/a.txt", "/l/a.csv", "", true, 0, "");
  EXPECT_EQ(report.out, "");
  EXPECT_EQ(report.err, "relaywatch: Log File failed\n");
  EXPECT_TRUE(report.failed);
}

TEST(RunReport, DirectoryProblemsAndListenFailure) {
  using platform::DirectoryState;
  EXPECT_EQ(DirectoryProblem("/x", {DirectoryState::kUsable, 0}), "");
  EXPECT_EQ(DirectoryProblem("/x", {DirectoryState::kMissing, ENOENT}),
            "cannot use the log directory /x: it does not exist");
  EXPECT_EQ(DirectoryProblem("/x", {DirectoryState::kNotADirectory, ENOTDIR}),
            "cannot use the log directory /x: it is not a directory");
  EXPECT_EQ(DirectoryProblem("/x", {DirectoryState::kNotWritable, EACCES}),
            "cannot use the log directory /x: it is not writable (Permission denied)");

  EXPECT_EQ(ListenFailureLine("127.0.0.1", 8010, "Address already in use", "", ""),
            "cannot listen on 127.0.0.1:8010: Address already in use");
  EXPECT_EQ(ListenFailureLine("127.0.0.1", 8010, "Address already in use", "HttpPort", "/c"),
            "cannot listen on 127.0.0.1:8010: Address already in use (the port is the stored "
            "setting HttpPort in /c; --port N overrides it)");
}

}  // namespace
}  // namespace rw::headless
