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

// pthread_create with the attributes `options` asks for; 0 or the error number.
int CreatePthread(ThreadOptions options, pthread_t& thread, std::function<void()>* body) {
  pthread_attr_t attributes;
  int rc = ::pthread_attr_init(&attributes);
  if (rc != 0) {
    return rc;
  }
  rc = ::pthread_attr_setdetachstate(&attributes, options.kind == ThreadKind::kDetached
                                                      ? PTHREAD_CREATE_DETACHED
                                                      : PTHREAD_CREATE_JOINABLE);
  if (rc == 0 && options.stackBytes != 0) {
    rc = ::pthread_attr_setstacksize(&attributes, options.stackBytes);
  }
  if (rc == 0) {
    rc = ::pthread_create(&thread, &attributes, RunThreadBody, body);
  }
  ::pthread_attr_destroy(&attributes);
  return rc;
}

}  // namespace

ThreadStartResult StartThread(ThreadOptions options, std::function<void()> body) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  const int rc = CreatePthread(options, thread, owned.get());
  if (rc != 0) {
    return ThreadStartResult{ThreadHandle(), rc};
  }
  (void)owned.release();  // the new thread owns it now
  if (options.kind == ThreadKind::kDetached) {
    return ThreadStartResult{};
  }
  return ThreadStartResult{ThreadHandle(thread), 0};
}

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

}  // namespace rw::platform
