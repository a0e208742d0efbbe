// What headless mode tells the user at start and at stop, and about each log pass: the texts,
// built from plain facts so that each can be tested. Pure; main thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/directory_check.h"

namespace rw::headless {

struct BannerFacts {
  std::string version;
  unsigned port = 0;
  std::string upstream;  // "host:port", empty when relaying directly
  int32_t maxMB = 0;     // the limit in force
  int32_t askedMB = 0;   // the limit asked for, before the floor and the default
  std::string logDir;
  std::string textLog;
  std::string csvLog;
  bool autoLog = false;
  std::string harPath;  // empty without --har
  bool quiet = false;
  std::string caCertificate;  // the CA certificate's path when inspecting HTTPS, else empty
};

// The lines printed once listening, each ending in "\n".
std::string FormatBanner(const BannerFacts& facts);

struct StopFacts {
  int64_t exchanges = 0;
  bool autoLog = false;
  bool logsWritten = false;  // the final pass succeeded (with autoLog)
  int64_t unsaved = 0;       // complete exchanges still in memory after a failed final pass
  std::string textLog;
  std::string csvLog;
  std::string harPath;  // empty without --har
  bool harWritten = false;
  int harEntries = 0;
  std::string harError;
  int64_t harDropped = 0;  // entries dropped while the HAR file could not be written
  int64_t linesDropped = 0;
};

struct Report {
  std::string out;  // for stdout
  std::string err;  // for stderr, each line starting "relaywatch: "
  bool failed = false;
};

// The stop summary: how many exchanges were captured and where they went, or that they were not
// written and which option would have kept them. `failed` when anything due was not written.
Report FormatStopSummary(const StopFacts& facts);

// The result of a log pass asked for by SIGUSR1 (as the Settings page's "&Log  and Clear").
Report FormatLogNowResult(bool written, int64_t exchangesWritten, const std::string& textLog,
                          const std::string& csvLog, const std::string& harPath, bool harWritten,
                          int harEntries, const std::string& harError);

// Why the log directory cannot be used, or the empty text when it can.
std::string DirectoryProblem(const std::string& path, const platform::DirectoryCheck& check);

// The line added to the listen failure: "cannot listen on 127.0.0.1:8010: Address already in
// use", and when the port came from the stored settings, which setting and where it is kept.
std::string ListenFailureLine(const std::string& address, int port, const std::string& reason,
                              const std::string& storedSettingName,
                              const std::string& settingsDirectory);

}  // namespace rw::headless
