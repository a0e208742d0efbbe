#include "platform/os_sys_calls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>

namespace rw::platform {
namespace {

sockaddr_in MakeAddress(uint32_t netOrderAddress, uint16_t port) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = netOrderAddress;
  address.sin_port = htons(port);
  return address;
}

// Owns a descriptor returned by socket/accept, or captures errno when there is none.
SocketResult SocketFromReturn(int fd) {
  SocketResult result;
  if (fd < 0) {
    result.errorNumber = errno != 0 ? errno : EIO;
  } else {
    result.value = Socket(fd);
  }
  return result;
}

}  // namespace

SocketResult CreateTcpSocket() {
  return SocketFromReturn(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
}

SysCallResult BindIPv4(const Socket& socket, uint32_t hostOrderAddress, uint16_t port) {
  sockaddr_in address = MakeAddress(htonl(hostOrderAddress), port);
  return SysCallResult::FromReturn(
      ::bind(socket.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof(address)));
}

SysCallResult BindLoopback(const Socket& socket, uint16_t port) {
  return BindIPv4(socket, INADDR_LOOPBACK, port);
}

SysCallResult Listen(const Socket& socket) {
  return Listen(socket, SOMAXCONN);
}

SysCallResult Listen(const Socket& socket, int backlog) {
  return SysCallResult::FromReturn(::listen(socket.Fd(), backlog));
}

SocketResult Accept(const Socket& socket) {
  return SocketFromReturn(RetryWhileInterrupted(
      [&] { return ::accept4(socket.Fd(), nullptr, nullptr, SOCK_CLOEXEC); }));
}

SysCallResult ConnectIPv4(const Socket& socket, uint32_t netOrderAddress, uint16_t port) {
  sockaddr_in address = MakeAddress(netOrderAddress, port);
  // An interrupted connect goes on in the background; retrying would give EALREADY, so the
  // interruption is reported like any other failure.
  return SysCallResult::FromReturn(
      ::connect(socket.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof(address)));
}

SysCallResult Recv(const Socket& socket, char* data, size_t capacity) {
  return SysCallResult::FromReturn(
      RetryWhileInterrupted([&] { return ::recv(socket.Fd(), data, capacity, 0); }));
}

SysCallResult Send(const Socket& socket, const char* data, size_t count) {
  return SysCallResult::FromReturn(
      RetryWhileInterrupted([&] { return ::send(socket.Fd(), data, count, MSG_NOSIGNAL); }));
}

SysCallResult SendGathered(const Socket& socket, std::string_view first, std::string_view second) {
  iovec parts[2];
  parts[0].iov_base = const_cast<char*>(first.data());
  parts[0].iov_len = first.size();
  parts[1].iov_base = const_cast<char*>(second.data());
  parts[1].iov_len = second.size();
  msghdr message;
  std::memset(&message, 0, sizeof(message));
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  ssize_t n;
  do {
    n = ::sendmsg(socket.Fd(), &message, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return SysCallResult::FromReturn(n);
}

SysCallResult Shutdown(int fd) {
  return SysCallResult::FromReturn(::shutdown(fd, SHUT_RDWR));
}

SysCallResult ShutdownSending(const Socket& socket) {
  return SysCallResult::FromReturn(::shutdown(socket.Fd(), SHUT_WR));
}

namespace {

SysCallResult SetIntOption(const Socket& socket, int level, int name, int value) {
  return SysCallResult::FromReturn(::setsockopt(socket.Fd(), level, name, &value, sizeof(value)));
}

SysCallResult GetIntOption(const Socket& socket, int level, int name) {
  int value = 0;
  socklen_t length = sizeof(value);
  SysCallResult result =
      SysCallResult::FromReturn(::getsockopt(socket.Fd(), level, name, &value, &length));
  if (result.Ok()) {
    result.value = value;
  }
  return result;
}

}  // namespace

SysCallResult ConnectError(const Socket& socket) {
  return GetIntOption(socket, SOL_SOCKET, SO_ERROR);
}

SysCallResult ReceiveBufferSize(const Socket& socket) {
  return GetIntOption(socket, SOL_SOCKET, SO_RCVBUF);
}

SysCallResult SendBufferSize(const Socket& socket) {
  return GetIntOption(socket, SOL_SOCKET, SO_SNDBUF);
}

SysCallResult AllowAddressReuse(const Socket& socket) {
  return SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
}

SysCallResult SetNoDelay(const Socket& socket) {
  return SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

SysCallResult LocalPort(const Socket& socket) {
  sockaddr_in address;
  socklen_t length = sizeof(address);
  SysCallResult result = SysCallResult::FromReturn(
      ::getsockname(socket.Fd(), reinterpret_cast<sockaddr*>(&address), &length));
  if (result.Ok()) {
    result.value = ntohs(address.sin_port);
  }
  return result;
}

SysCallResult Peek(const Socket& socket, char* data, size_t capacity) {
  return SysCallResult::FromReturn(
      RetryWhileInterrupted([&] { return ::recv(socket.Fd(), data, capacity, MSG_PEEK); }));
}

namespace {

short PollEvents(const PollInterest& interest) {
  return static_cast<short>((interest.read ? POLLIN : 0) | (interest.write ? POLLOUT : 0));
}

PollReady ReadyFrom(short revents) {
  PollReady ready;
  ready.readable = (revents & POLLIN) != 0;
  ready.writable = (revents & POLLOUT) != 0;
  ready.failed = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  return ready;
}

PollPairResult PollFds(pollfd* fds, nfds_t count, int timeoutMilliseconds) {
  const int n = RetryWhileInterrupted([&] { return ::poll(fds, count, timeoutMilliseconds); });
  PollPairResult result;
  if (n < 0) {
    result.errorNumber = errno != 0 ? errno : EIO;
    return result;
  }
  result.value.timedOut = n == 0;
  result.value.first = ReadyFrom(fds[0].revents);
  if (count == 2) {
    result.value.second = ReadyFrom(fds[1].revents);
  }
  return result;
}

}  // namespace

PollPairResult PollPair(PollInterest first, PollInterest second, int timeoutMilliseconds) {
  pollfd fds[2];
  fds[0] = pollfd{first.fd, PollEvents(first), 0};
  fds[1] = pollfd{second.fd, PollEvents(second), 0};
  return PollFds(fds, second.fd >= 0 ? 2 : 1, timeoutMilliseconds);
}

PollPairResult PollOne(PollInterest interest, int timeoutMilliseconds) {
  pollfd fd{interest.fd, PollEvents(interest), 0};
  return PollFds(&fd, 1, timeoutMilliseconds);
}

SysCallResult SetNonBlocking(const Socket& socket) {
  int flags = ::fcntl(socket.Fd(), F_GETFL, 0);
  if (flags < 0) {
    return SysCallResult::FromReturn(flags);
  }
  return SysCallResult::FromReturn(::fcntl(socket.Fd(), F_SETFL, flags | O_NONBLOCK));
}

ResolveResult ResolveIPv4(const std::string& name) {
  ResolveResult result;
  addrinfo hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  switch (rc) {
    case 0:
      break;
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      result.error = ResolveError::kNoSuchName;
      return result;
    case EAI_AGAIN:
      result.error = ResolveError::kTemporary;
      return result;
    case EAI_SYSTEM:
      result.error = ResolveError::kSystem;
      result.systemError = errno;
      return result;
    default:
      result.error = ResolveError::kOther;
      return result;
  }
  for (addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      result.netOrderAddress = reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  ::freeaddrinfo(list);
  if (result.netOrderAddress == 0) {
    result.error = ResolveError::kNoSuchName;
  }
  return result;
}

bool ParseDottedIPv4(const std::string& text, uint32_t* netOrderAddress) {
  in_addr address;
  if (::inet_aton(text.c_str(), &address) == 0) {
    return false;
  }
  *netOrderAddress = address.s_addr;
  return true;
}

}  // namespace rw::platform
