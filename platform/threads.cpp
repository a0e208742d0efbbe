#include "platform/threads.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>

namespace rw::platform {
namespace {

void* RunThreadBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return nullptr;
}

}  // namespace

void TryRaiseThreadPriority() {
  // Per-thread nice value on Linux; lowering it needs CAP_SYS_NICE, which is usually absent.
  pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -10);
}

void BlockSigpipeOnThisThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SysCallResult StartDetachedThread(std::function<void()> body) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  pthread_attr_t attributes;
  int rc = ::pthread_attr_init(&attributes);
  if (rc != 0) {
    return SysCallResult::Failed(rc);
  }
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  rc = ::pthread_create(&thread, &attributes, RunThreadBody, owned.get());
  ::pthread_attr_destroy(&attributes);
  if (rc != 0) {
    return SysCallResult::Failed(rc);
  }
  (void)owned.release();  // the new thread owns it now
  return SysCallResult::Succeeded(0);
}

}  // namespace rw::platform
