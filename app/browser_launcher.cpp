#include "app/browser_launcher.h"

#include <array>
#include <charconv>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/child_process.h"
#include "platform/error_text.h"
#include "platform/private_file.h"
#include "platform/program_search.h"
#include "tls/certificate_fingerprint.h"

namespace rw::app {
namespace {

constexpr char kProfilePrefix[] = "relaywatch-browser.";
// The browser's process id, written into its profile so that a later launch can tell whether the
// browser still runs.
constexpr char kPidFile[] = "relaywatch-browser.pid";

enum class BrowserKind { kChromium, kFirefox };

struct BrowserName {
  const char* program;
  const char* label;
  BrowserKind kind;
};

constexpr std::array<BrowserName, 6> kBrowsers{{
    {"chromium", "Chromium", BrowserKind::kChromium},
    {"chromium-browser", "Chromium", BrowserKind::kChromium},
    {"google-chrome", "Google Chrome", BrowserKind::kChromium},
    {"google-chrome-stable", "Google Chrome", BrowserKind::kChromium},
    {"firefox", "Firefox", BrowserKind::kFirefox},
    {"firefox-esr", "Firefox", BrowserKind::kFirefox},
}};

std::string Join(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& arg : argv) {
    if (!text.empty()) {
      text += ' ';
    }
    text += ShellWord(arg);
  }
  return text;
}

std::vector<std::string> ChromiumArguments(const std::string& program, const std::string& profile,
                                           const BrowserLaunchRequest& request) {
  const std::string proxy = "127.0.0.1:" + std::to_string(request.proxyPort);
  std::vector<std::string> argv{program, "--proxy-server=http://" + proxy,
                                // Chromium sends loopback addresses around a proxy unless told
                                // otherwise; a user testing a local server wants them traced.
                                "--proxy-bypass-list=<-loopback>", "--user-data-dir=" + profile,
                                "--no-first-run", "--no-default-browser-check"};
  if (!request.caSpkiSha256.empty()) {
    argv.push_back("--ignore-certificate-errors-spki-list=" + request.caSpkiSha256);
  }
  // Chromium refuses to start as root with its sandbox on.
  if (platform::EffectiveUserIsRoot()) {
    argv.emplace_back("--no-sandbox");
  }
  return argv;
}

std::string FirefoxPreferences(uint16_t port) {
  const std::string p = std::to_string(port);
  return "user_pref(\"network.proxy.type\", 1);\n"
         "user_pref(\"network.proxy.http\", \"127.0.0.1\");\n"
         "user_pref(\"network.proxy.http_port\", " +
         p +
         ");\n"
         "user_pref(\"network.proxy.ssl\", \"127.0.0.1\");\n"
         "user_pref(\"network.proxy.ssl_port\", " +
         p +
         ");\n"
         "user_pref(\"network.proxy.no_proxies_on\", \"\");\n"
         "user_pref(\"network.proxy.allow_hijacking_localhost\", true);\n"
         "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
         "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
         "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
         "user_pref(\"startup.homepage_welcome_url\", \"about:blank\");\n"
         "user_pref(\"startup.homepage_welcome_url.additional\", \"\");\n"
         "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
         "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n";
}

// Runs a helper to its end (bounded); empty when it succeeded, else what went wrong.
std::string RunHelper(const std::vector<std::string>& argv) {
  platform::ChildProcess helper = platform::ChildProcess::Start(argv);
  if (!helper.Started()) {
    return argv[0] + ": " + platform::ErrorText(helper.StartError());
  }
  if (!helper.WaitForExit(std::chrono::seconds(20))) {
    return argv[0] + " did not finish";
  }
  if (!helper.ExitedCleanly()) {
    return argv[0] + " " + helper.ExitText() + ": " + helper.ErrorOutput();
  }
  return {};
}

// Writes user.js, and trusts the authority in the profile's own certificate database when
// certutil is there. Returns what the user must still do, or empty; `error` when the profile
// cannot be written.
std::string PrepareFirefoxProfile(const std::filesystem::path& profile,
                                  const BrowserLaunchRequest& request, std::string* error) {
  std::ofstream prefs(profile / "user.js", std::ios::binary | std::ios::trunc);
  prefs << FirefoxPreferences(request.proxyPort);
  prefs.close();
  if (!prefs) {
    *error = "cannot write the browser's temporary profile in " + profile.string();
    return {};
  }
  if (request.caSpkiSha256.empty()) {
    return {};
  }
  const std::string certutil = platform::FindProgramOnPath("certutil");
  const std::string needsImport = "Firefox does not trust the Relaywatch CA yet: import " +
                                  request.caCertificatePath +
                                  " in its certificate manager (Settings, Privacy & Security, "
                                  "View Certificates, Authorities)";
  if (certutil.empty()) {
    return needsImport + ", or install certutil (libnss3-tools) to have it trusted for you.";
  }
  const std::string database = "sql:" + profile.string();
  std::string failed = RunHelper({certutil, "-N", "-d", database, "--empty-password"});
  if (failed.empty()) {
    failed = RunHelper({certutil, "-A", "-d", database, "-n", "Relaywatch CA", "-t", "C,,", "-i",
                        request.caCertificatePath});
  }
  return failed.empty() ? std::string() : needsImport + " (" + failed + ").";
}

// A browser that outlived the run which started it leaves its profile behind: once that browser
// has exited, the profile is removed here. Folders without a process id (one being set up by
// another run) are left alone.
void RemoveProfilesOfEndedBrowsers() {
  for (const std::filesystem::path& profile :
       platform::ListPrivateTempDirectories(kProfilePrefix)) {
    const platform::ReadFileResult file =
        platform::ReadWholeFile((profile / kPidFile).string(), 32, platform::LinkRule::kRefuse);
    pid_t pid = 0;
    if (!file.Ok() || file.facts.owner != platform::CurrentUser() ||
        std::from_chars(file.data.data(), file.data.data() + file.data.size(), pid).ec !=
            std::errc()) {
      continue;
    }
    if (pid > 0 && !platform::ProcessExists(pid)) {
      platform::RemoveDirectoryTree(profile);
    }
  }
}

const BrowserName* FindBrowser(std::string* program) {
  for (const BrowserName& browser : kBrowsers) {
    *program = platform::FindProgramOnPath(browser.program);
    if (!program->empty()) {
      return &browser;
    }
  }
  return nullptr;
}

// The watcher keeps reading the browser's standard error, so that a full pipe never stalls it,
// and removes the profile when it exits. It owns everything it uses.
std::shared_future<void> RemoveProfileAtExit(platform::ChildProcess child,
                                             const std::filesystem::path& profile) {
  std::promise<void> removed;
  std::shared_future<void> done = removed.get_future().share();
  std::thread([child = std::move(child), profile, removed = std::move(removed)]() mutable {
    child.WaitForExit(std::chrono::milliseconds(-1));
    platform::RemoveDirectoryTree(profile);
    removed.set_value();
  }).detach();
  return done;
}

std::string OpenedMessage(const BrowserName& chosen, const BrowserLaunchRequest& request,
                          const std::string& advice) {
  const bool trusted =
      !request.caSpkiSha256.empty() && (chosen.kind == BrowserKind::kChromium || advice.empty());
  return "Opened " + std::string(chosen.label) + " with a temporary profile using " +
         "Relaywatch at 127.0.0.1:" + std::to_string(request.proxyPort) + " as its proxy" +
         (trusted ? ", trusting the Relaywatch CA." : ".") +
         (advice.empty() ? std::string() : " " + advice);
}

std::string TrimmedOutput(const std::string& text) {
  std::string out = text;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out;
}

}  // namespace

std::string ShellWord(const std::string& word) {
  if (!word.empty() &&
      word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                             "-_./:=,+@%") == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string BrowserLauncher::SearchedNames() {
  std::string names;
  for (const BrowserName& browser : kBrowsers) {
    names += (names.empty() ? "" : ", ") + std::string(browser.program);
  }
  return names;
}

BrowserLaunchRequest BrowserLauncher::RequestFor(uint16_t proxyPort,
                                                 const tls::InspectionSettings& inspection) {
  BrowserLaunchRequest request;
  request.proxyPort = proxyPort;
  if (inspection.On()) {
    request.caSpkiSha256 = tls::SpkiSha256Base64(inspection.authority->Certificate());
    request.caCertificatePath = inspection.authority->CertificatePath();
  }
  return request;
}

BrowserLaunchResult BrowserLauncher::Launch(const BrowserLaunchRequest& request) const {
  BrowserLaunchResult result;
  std::string program;
  const BrowserName* chosen = FindBrowser(&program);
  if (chosen == nullptr) {
    result.message = "No browser found: looked for " + SearchedNames() + " on PATH.";
    return result;
  }
  RemoveProfilesOfEndedBrowsers();
  int error = 0;
  const std::filesystem::path profile = platform::MakePrivateTempDirectory(kProfilePrefix, &error);
  if (profile.empty()) {
    result.message = "Cannot make a temporary browser profile: " + platform::ErrorText(error);
    return result;
  }

  std::vector<std::string> argv;
  std::string advice;
  if (chosen->kind == BrowserKind::kChromium) {
    argv = ChromiumArguments(program, profile.string(), request);
  } else {
    std::string profileError;
    advice = PrepareFirefoxProfile(profile, request, &profileError);
    if (!profileError.empty()) {
      platform::RemoveDirectoryTree(profile);
      result.message = "Cannot start " + std::string(chosen->label) + ": " + profileError;
      return result;
    }
    argv = {program, "-profile", profile.string(), "-no-remote"};
  }
  result.command = Join(argv);

  // Chromium keeps its crash reports in the user's own profile folder whatever --user-data-dir
  // says, unless its configuration home is moved: into the temporary profile, then.
  const std::vector<std::string> environment =
      chosen->kind == BrowserKind::kChromium
          ? std::vector<std::string>{"CHROME_CONFIG_HOME=" + profile.string()}
          : std::vector<std::string>{};
  platform::ChildProcess child = platform::ChildProcess::Start(argv, environment);
  if (!child.Started()) {
    platform::RemoveDirectoryTree(profile);
    result.message = "Cannot start " + std::string(chosen->label) + " (" + program +
                     "): " + platform::ErrorText(child.StartError());
    return result;
  }
  // Without it the profile is still removed by this run's watcher; only a later run cannot.
  (void)platform::CreateFileExclusive((profile / kPidFile).string(), 0600,
                                      std::to_string(child.Pid()));
  if (child.WaitForExit(std::chrono::milliseconds(kStartGraceMs))) {
    platform::RemoveDirectoryTree(profile);
    const std::string said = TrimmedOutput(child.ErrorOutput());
    result.message = std::string(chosen->label) + " (" + program + ") " + child.ExitText() +
                     " at once" + (said.empty() ? std::string(", saying nothing.") : ": " + said);
    return result;
  }

  result.profileRemoved = RemoveProfileAtExit(std::move(child), profile);
  result.ok = true;
  result.message = OpenedMessage(*chosen, request, advice);
  return result;
}

std::future<BrowserLaunchResult> BrowserLauncher::LaunchInBackground(
    const BrowserLaunchRequest& request) {
  std::promise<BrowserLaunchResult> outcome;
  std::future<BrowserLaunchResult> future = outcome.get_future();
  std::thread([request, outcome = std::move(outcome)]() mutable {
    outcome.set_value(BrowserLauncher().Launch(request));
  }).detach();
  return future;
}

}  // namespace rw::app
