// The one layer over the socket system calls: each returns its value with errno captured at the
// call, retries EINTR where a retry is right, and never throws. Callable from any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/sys_call_result.h"

namespace rw::platform {

// value: the new socket, not Valid() on failure.
using SocketResult = CallResult<Socket>;

// IPv4 TCP stream socket with close-on-exec, so child processes never inherit it.
SocketResult CreateTcpSocket();
// Binds to an IPv4 address given in host byte order (e.g. INADDR_LOOPBACK) and a port.
SysCallResult BindIPv4(const Socket& socket, uint32_t hostOrderAddress, uint16_t port);
// Binds to 127.0.0.1 and `port` (0: any free port).
SysCallResult BindLoopback(const Socket& socket, uint16_t port);
// Without a backlog: the longest queue of pending connections the system allows.
SysCallResult Listen(const Socket& socket);
SysCallResult Listen(const Socket& socket, int backlog);
// Accepted sockets are close-on-exec too.
SocketResult Accept(const Socket& socket);
// On a non-blocking socket a connect that cannot finish at once fails with EINPROGRESS; it goes
// on in the background and the socket turns writable when it has finished (see ConnectError).
SysCallResult ConnectIPv4(const Socket& socket, uint32_t netOrderAddress, uint16_t port);
// How a background connect ended: value 0 when connected, else the errno it failed with.
SysCallResult ConnectError(const Socket& socket);
SysCallResult Recv(const Socket& socket, char* data, size_t capacity);
// MSG_NOSIGNAL: a peer that went away yields EPIPE instead of killing the process.
SysCallResult Send(const Socket& socket, const char* data, size_t count);
// One send of `first` followed by `second` (either may be empty), MSG_NOSIGNAL as Send.
SysCallResult SendGathered(const Socket& socket, std::string_view first, std::string_view second);
// Both directions; wakes a thread blocked in accept or recv on the same socket.
SysCallResult Shutdown(int fd);
// The sending direction only: the peer reads an end and may still answer.
SysCallResult ShutdownSending(const Socket& socket);
// The kernel's receive and send buffer sizes for the socket (value = bytes).
SysCallResult ReceiveBufferSize(const Socket& socket);
SysCallResult SendBufferSize(const Socket& socket);
// Lets a listener bind its port again while connections of an earlier one are still closing.
SysCallResult AllowAddressReuse(const Socket& socket);
SysCallResult SetNoDelay(const Socket& socket);
// The port the socket is bound to, or -1.
SysCallResult LocalPort(const Socket& socket);
// Copies up to `capacity` bytes from the front of the socket's received data without removing
// them.
SysCallResult Peek(const Socket& socket, char* data, size_t capacity);

// What the relay loop waits for on one socket; fd -1 = not watched.
struct PollInterest {
  int fd = -1;
  bool read = false;
  bool write = false;
};
struct PollReady {
  bool readable = false;
  bool writable = false;
  bool failed = false;  // hung up or in error: a read or write now reports how
};
struct PollPairReady {
  PollReady first;
  PollReady second;
  bool timedOut = false;  // the time-out passed with neither socket ready
};
using PollPairResult = CallResult<PollPairReady>;
// Waits until one of the two sockets is ready as asked, hung up or failed, or until
// `timeoutMilliseconds` have passed (-1: no time-out).
PollPairResult PollPair(PollInterest first, PollInterest second, int timeoutMilliseconds = -1);
// Whether one socket is ready as asked within `timeoutMilliseconds` (-1: no time-out).
PollPairResult PollOne(PollInterest interest, int timeoutMilliseconds);

// O_NONBLOCK: sends and receives report EAGAIN instead of waiting.
SysCallResult SetNonBlocking(const Socket& socket);
// True for the errors a non-blocking call gives when it would have to wait.
inline bool WouldBlock(int errorNumber) {
  return errorNumber == EAGAIN || errorNumber == EWOULDBLOCK;
}

// Why a name did not resolve. The resolver has codes of its own, which are not errno values and
// have no Windows Sockets code to show.
enum class ResolveError {
  kNone,
  kNoSuchName,  // the name has no IPv4 address
  kTemporary,   // the name server did not answer now; a later try may work
  kSystem,      // a system call failed; `systemError` holds its errno
  kOther,       // any other resolver failure
};
struct [[nodiscard]] ResolveResult {
  uint32_t netOrderAddress = 0;  // 0 when the name could not be resolved
  ResolveError error = ResolveError::kNone;
  int systemError = 0;  // errno with kSystem
  bool Ok() const { return error == ResolveError::kNone && netOrderAddress != 0; }
};
// The first IPv4 address of the name (thread-safe, unlike gethostbyname).
ResolveResult ResolveIPv4(const std::string& name);
// A dotted IPv4 address in the forms inet_addr accepts; false when the text is not one.
bool ParseDottedIPv4(const std::string& text, uint32_t* netOrderAddress);

}  // namespace rw::platform
