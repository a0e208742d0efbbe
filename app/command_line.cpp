#include "app/command_line.h"

#include <optional>

#include "app/settings_form.h"
#include "text/number_parsers.h"
#include "tls/host_pattern.h"

namespace rw::app {
namespace {

// At most nine digits: every value the options take fits in 32 bits.
bool IsDecimal(const std::string& text) {
  return text.size() <= 9 && text::DecimalDigits(text).has_value();
}

bool IsPortNumber(const std::string& text) {
  const std::optional<int64_t> port = IsDecimal(text) ? text::DecimalDigits(text) : std::nullopt;
  return port && *port >= 1 && *port <= 65535;
}

}  // namespace

CommandLine::ParseResult CommandLine::Parse(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      if (const auto eq = arg.find('='); eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) {
        return inlineValue;
      }
      if (i + 1 < args.size()) {
        return args[++i];
      }
      return std::nullopt;
    };
    auto takesNoValue = [&]() {
      if (inlineValue) {
        error = "option " + arg + " takes no value";
        return false;
      }
      return true;
    };

    if (arg == "--help" || arg == "-h") {
      return ParseResult::kHelp;
    }
    if (arg == "--version" || arg == "-V") {
      return ParseResult::kVersion;
    }
    if (arg == "--headless") {
      if (!takesNoValue()) {
        return ParseResult::kError;
      }
      headless = true;
    } else if (arg == "--quiet" || arg == "-q") {
      if (!takesNoValue()) {
        return ParseResult::kError;
      }
      quiet = true;
    } else if (arg == "--har") {
      auto v = value();
      if (!v || v->empty()) {
        error = "--har needs a file name";
        return ParseResult::kError;
      }
      harFile = *v;
    } else if (arg == "--auto-log") {
      if (!takesNoValue()) {
        return ParseResult::kError;
      }
      autoLog = true;
    } else if (arg == "--port") {
      auto v = value();
      if (!v || !IsPortNumber(*v)) {
        error = "--port needs a port number from 1 to 65535";
        return ParseResult::kError;
      }
      port = *v;
    } else if (arg == "--proxy") {
      auto v = value();
      const auto colon = v ? v->rfind(':') : std::string::npos;
      if (!v || colon == std::string::npos || colon == 0 || !IsPortNumber(v->substr(colon + 1))) {
        error = "--proxy needs HOST:PORT";
        return ParseResult::kError;
      }
      proxyHost = v->substr(0, colon);
      proxyPort = v->substr(colon + 1);
    } else if (arg == "--log-dir") {
      auto v = value();
      if (!v || v->empty()) {
        error = "--log-dir needs a directory";
        return ParseResult::kError;
      }
      logDir = *v;
    } else if (arg == "--max-mb") {
      auto v = value();
      if (!v || !IsDecimal(*v)) {
        error = "--max-mb needs a number of megabytes";
        return ParseResult::kError;
      }
      maxMB = *v;
    } else if (arg == "--inspect-https") {
      if (!takesNoValue()) {
        return ParseResult::kError;
      }
      inspectHttps = true;
    } else if (arg == "--open-browser") {
      if (!takesNoValue()) {
        return ParseResult::kError;
      }
      openBrowser = true;
    } else if (arg == "--upstream-ca") {
      auto v = value();
      if (!v || v->empty()) {
        error = "--upstream-ca needs a file of PEM certificates";
        return ParseResult::kError;
      }
      upstreamCaFile = *v;
    } else if (arg == "--no-inspect") {
      auto v = value();
      if (!v) {
        error = "--no-inspect needs HOST[,HOST...]";
        return ParseResult::kError;
      }
      if (const tls::HostPatternList::ParseResult hosts = tls::HostPatternList::Parse(*v);
          !hosts.Ok()) {
        error = "--no-inspect: " + hosts.error;
        return ParseResult::kError;
      }
      noInspectHosts = *v;
    } else {
      error = "unknown option: " + arg;
      return ParseResult::kError;
    }
  }
  return ParseResult::kRun;
}

bool CommandLine::HasOverrides() const {
  return port || proxyHost || logDir || maxMB || autoLog;
}

bool CommandLine::HasHeadlessOnlyOptions() const {
  return HasOverrides() || harFile.has_value() || quiet || inspectHttps ||
         upstreamCaFile.has_value() || noInspectHosts.has_value() || openBrowser;
}

void CommandLine::ApplyOverrides(SettingsForm& form) const {
  if (port) {
    form.port = *port;
  }
  if (proxyHost) {
    form.proxyHost = *proxyHost;
    form.proxyPort = proxyPort.value_or("");
  }
  if (logDir) {
    form.logDir = *logDir;
  }
  if (maxMB) {
    form.maxMB = *maxMB;
  }
  if (autoLog) {
    form.autoLog = true;
  }
}

std::string CommandLine::Usage(const std::string& program) {
  return "Usage: " + program +
         " --headless [options]\n"
         "HTTP tracing proxy: relays a browser's traffic and captures every exchange.\n"
         "\n"
         "  --headless        run the proxy without a window (Ctrl+C, SIGTERM or SIGHUP to\n"
         "                    stop; SIGUSR1 writes the logs now and clears)\n"
         "  --port N          listen on 127.0.0.1:N for this run\n"
         "  --proxy HOST:PORT forward through an upstream proxy for this run\n"
         "  --log-dir DIR     write the log files into DIR for this run\n"
         "  --max-mb N        keep at most N MB of captured data in memory for this run\n"
         "  --auto-log        write data over the limit, and everything at exit, to the logs\n"
         "  --har FILE        also write the exchanges to FILE as HAR 1.2, at each log pass\n"
         "                    and at exit\n"
         "  -q, --quiet       print no line per exchange\n"
         "  --inspect-https   inspect HTTPS for this run with the local certificate\n"
         "                    authority kept in the settings folder's ca/\n"
         "  --upstream-ca FILE\n"
         "                    also trust the PEM certificates in FILE when verifying\n"
         "                    servers, for this run\n"
         "  --no-inspect HOST[,HOST...]\n"
         "                    leave these hosts (exact names, or *.example.com for any\n"
         "                    subdomain) as untouched tunnels, for this run\n"
         "  --open-browser    once listening, start Chromium, Google Chrome or Firefox with\n"
         "                    a temporary profile that uses this proxy\n"
         "  --help            show this help and exit\n"
         "  --version         show the version and exit\n"
         "\n"
         "Options override the saved settings for this run only. Settings are kept in\n"
         "$RELAYWATCH_CONFIG_DIR, else ${XDG_CONFIG_HOME:-~/.config}/relaywatch.\n";
}

}  // namespace rw::app
