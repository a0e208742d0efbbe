// A move-only owner of one socket descriptor; closes it when destroyed.
// Owned by exactly one thread at a time (the listener, the accept thread or a connection thread).
#pragma once

namespace rw::platform {

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int Fd() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Closes now; failures are not reported (nothing useful can be done with them).
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace rw::platform
