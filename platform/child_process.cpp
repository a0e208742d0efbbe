#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

extern char** environ;

namespace rw::platform {
namespace {

constexpr size_t kMaxErrorOutput = size_t{16} * 1024;
constexpr int kPollSliceMs = 100;

// Frees the spawn attributes and file actions on every path out of Start.
struct SpawnSetup {
  posix_spawnattr_t attributes{};
  posix_spawn_file_actions_t actions{};
  SpawnSetup() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// Our environment with `set` in place of the variables of the same names; points into both.
std::vector<char*> EnvironmentWith(const std::vector<std::string>& set) {
  std::vector<char*> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view name(*entry, std::strcspn(*entry, "="));
    const bool replaced = std::any_of(set.begin(), set.end(), [&](const std::string& own) {
      return own.size() > name.size() && own.compare(0, name.size(), name) == 0 &&
             own[name.size()] == '=';
    });
    if (!replaced) {
      entries.push_back(*entry);
    }
  }
  for (const std::string& own : set) {
    entries.push_back(const_cast<char*>(own.c_str()));
  }
  entries.push_back(nullptr);
  return entries;
}

}  // namespace

ChildProcess ChildProcess::Start(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& setEnvironment) {
  ChildProcess child;
  if (argv.empty()) {
    child.startError = EINVAL;
    return child;
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    child.startError = errno;
    return child;
  }
  FileDescriptor readEnd(ends[0]);
  FileDescriptor writeEnd(ends[1]);

  SpawnSetup setup;
  // The program's signal mask blocks the stop signals in every thread, and SIGPIPE is ignored: a
  // child inherits both, and a browser must be stoppable and see broken pipes as usual.
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.Get(), 2);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = -1;
  std::vector<char*> environment = EnvironmentWith(setEnvironment);
  const int spawned = ::posix_spawn(&pid, argv[0].c_str(), &setup.actions, &setup.attributes,
                                    args.data(), environment.data());
  if (spawned != 0) {
    child.startError = spawned;
    return child;
  }
  child.pid = pid;
  child.errorPipe = std::move(readEnd);
  // Our copy of the write end closes here, so the pipe ends when the child's copies do.
  return child;
}

void ChildProcess::Drain() {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(errorPipe.Get(), buffer, sizeof buffer);
    if (got > 0) {
      const size_t room = kMaxErrorOutput - std::min(kMaxErrorOutput, errorOutput.size());
      errorOutput.append(buffer, std::min(room, static_cast<size_t>(got)));
      return;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    errorPipe = FileDescriptor();  // end of file, or an error that reading again would repeat
    return;
  }
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (exited || pid <= 0) {
    return exited;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) {
      // Whatever it wrote before exiting is in the pipe; its own children may hold the pipe
      // open, so read only what is there.
      while (errorPipe.Valid()) {
        pollfd ready{errorPipe.Get(), POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0) {
          break;
        }
        Drain();
      }
      exited = true;
      exitedNormally = done == pid && WIFEXITED(status);
      exitCode = !exitedNormally ? (done == pid ? WTERMSIG(status) : 0) : WEXITSTATUS(status);
      return true;
    }
    int slice = kPollSliceMs;
    if (timeout.count() >= 0) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return false;
      }
      slice = static_cast<int>(std::min<long long>(left.count(), kPollSliceMs));
    }
    if (errorPipe.Valid()) {
      pollfd ready{errorPipe.Get(), POLLIN, 0};
      if (::poll(&ready, 1, slice) > 0) {
        Drain();
      }
    } else {
      ::poll(nullptr, 0, slice);
    }
  }
}

std::string ChildProcess::ExitText() const {
  if (!exited) {
    return {};
  }
  if (exitedNormally) {
    return "exited with status " + std::to_string(exitCode);
  }
  return "was ended by signal " + std::to_string(exitCode);
}

}  // namespace rw::platform
