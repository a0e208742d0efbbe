#include "proxy/looped_connection.h"

#include <string_view>

#include "platform/os_sys_calls.h"
#include "proxy/fixed_replies.h"

namespace rw::proxy {
namespace {

// The other end is this engine, which closes once it has the page; the wait only bounds a
// connection that does not.
constexpr int kCloseWaitMilliseconds = 2000;

}  // namespace

void AnswerLoopedConnection(platform::Socket socket) {
  if (!platform::SetNonBlocking(socket).Ok()) {
    return;
  }
  std::string_view page = kProxyLoopPage;
  while (!page.empty()) {
    platform::SysCallResult sent = platform::Send(socket, page.data(), page.size());
    if (sent.value > 0) {
      page.remove_prefix(static_cast<size_t>(sent.value));
      continue;
    }
    if (!platform::WouldBlock(sent.errorNumber) ||
        !platform::PollOne({socket.Fd(), false, true}, kCloseWaitMilliseconds).Ok()) {
      return;
    }
  }
  // Closing with the request unread would reset the connection and could lose the page: the
  // request is read and dropped until the other end closes.
  (void)platform::ShutdownSending(socket);
  char discard[4096];
  for (;;) {
    const platform::PollPairResult ready =
        platform::PollOne({socket.Fd(), true, false}, kCloseWaitMilliseconds);
    if (!ready.Ok() || ready.value.timedOut) {
      return;
    }
    const platform::SysCallResult received = platform::Recv(socket, discard, sizeof(discard));
    if (received.value == 0 ||
        (received.value < 0 && !platform::WouldBlock(received.errorNumber))) {
      return;
    }
  }
}

}  // namespace rw::proxy
