// Starts a browser that uses this program as its proxy: the first of Chromium, Google Chrome or
// Firefox on PATH, with a fresh private profile that is removed when the browser exits, and, when
// HTTPS inspection is on, the local certificate authority trusted for that profile only. The
// user's own profiles are never touched. Any one thread at a time; a detached watcher thread per
// browser removes its profile, and a profile whose browser outlived an earlier run goes at the next
// launch.
#pragma once

#include <cstdint>
#include <future>
#include <string>

#include "tls/inspection_settings.h"

namespace rw::app {

struct BrowserLaunchRequest {
  uint16_t proxyPort = 0;
  std::string caSpkiSha256;       // empty: inspection off
  std::string caCertificatePath;  // PEM, for browsers that import it
};

struct BrowserLaunchResult {
  bool ok = false;
  std::string message;  // for the user, on success and on failure
  std::string command;  // the command that started the browser, quoted for a shell
  std::shared_future<void> profileRemoved;  // ready once the browser has exited and its
                                            // profile is gone; invalid when none was made
};

class BrowserLauncher {
 public:
  // How long a browser must keep running for its start to count as a success.
  static constexpr int kStartGraceMs = 2000;

  static BrowserLaunchRequest RequestFor(uint16_t proxyPort,
                                         const tls::InspectionSettings& inspection);

  // Blocks up to kStartGraceMs while it watches the browser start.
  BrowserLaunchResult Launch(const BrowserLaunchRequest& request) const;
  // Launch on a detached thread of its own, for a caller that must stay responsive meanwhile.
  static std::future<BrowserLaunchResult> LaunchInBackground(const BrowserLaunchRequest& request);

  // The names searched for, in order, as the no-browser message lists them.
  static std::string SearchedNames();
};

// One word for a POSIX shell: as it is when it holds only safe characters, else single-quoted.
std::string ShellWord(const std::string& word);

}  // namespace rw::app
