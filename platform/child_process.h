// A program started with its standard input and output on /dev/null and its standard error
// collected through a pipe, so that a caller can say what a program that failed at once said.
// Move-only; used by one thread at a time (the starter, then whoever watches it exit).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"

namespace rw::platform {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&&) noexcept = default;
  ChildProcess& operator=(ChildProcess&&) noexcept = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0] is the program's path. The child gets no blocked and no ignored signals of ours.
  // On failure the child is not Started() and StartError() gives the errno. `setEnvironment`
  // ("NAME=value") adds to our environment or replaces a variable of the same name.
  static ChildProcess Start(const std::vector<std::string>& argv,
                            const std::vector<std::string>& setEnvironment = {});

  bool Started() const { return pid > 0; }
  pid_t Pid() const { return pid; }
  int StartError() const { return startError; }

  // Collects standard error until the child exits or `timeout` passes; true once it has exited
  // (and been reaped). A negative timeout waits as long as the child runs.
  bool WaitForExit(std::chrono::milliseconds timeout);
  bool Exited() const { return exited; }
  // "exited with status 1", "was ended by signal 11"; empty while running.
  std::string ExitText() const;
  bool ExitedCleanly() const { return exited && exitedNormally && exitCode == 0; }
  // What the child wrote to standard error, the first 16 KiB of it.
  const std::string& ErrorOutput() const { return errorOutput; }

 private:
  void Drain();

  pid_t pid = -1;
  int startError = 0;
  FileDescriptor errorPipe;  // read end; closed at end of file
  std::string errorOutput;
  bool exited = false;
  bool exitedNormally = false;
  int exitCode = 0;  // the status, or the signal number
};

}  // namespace rw::platform
