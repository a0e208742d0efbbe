// Loopback helpers for the engine's integration tests: a blocking test client, a scripted origin
// server and an engine started on an ephemeral port. Every socket read is bounded by a receive
// time-out so a failing test ends instead of hanging.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/conversation_store.h"
#include "platform/os_sys_calls.h"
#include "platform/socket.h"
#include "proxy/engine_context.h"
#include "proxy/listener_error_sink.h"
#include "proxy/proxy_listener.h"
#include "proxy/proxy_settings.h"

namespace rw::proxy::testing {

inline void BoundReads(const platform::Socket& socket) {
  timeval limit{10, 0};
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
}

inline platform::Socket ConnectLoopback(uint16_t port) {
  platform::SocketResult created = platform::CreateTcpSocket();
  if (!platform::ConnectIPv4(created.value, htonl(INADDR_LOOPBACK), port).Ok()) {
    return platform::Socket();
  }
  BoundReads(created.value);
  return std::move(created.value);
}

inline bool SendText(const platform::Socket& socket, std::string_view text) {
  size_t sent = 0;
  while (sent < text.size()) {
    platform::SysCallResult result = platform::Send(socket, text.data() + sent, text.size() - sent);
    if (result.value <= 0) {
      return false;
    }
    sent += static_cast<size_t>(result.value);
  }
  return true;
}

// Reads until `count` bytes have arrived, the peer closes, or the read time-out passes.
inline std::string ReadAtLeast(const platform::Socket& socket, size_t count) {
  std::string data;
  char buffer[65536];
  while (data.size() < count) {
    platform::SysCallResult result = platform::Recv(socket, buffer, sizeof(buffer));
    if (result.value <= 0) {
      break;
    }
    data.append(buffer, static_cast<size_t>(result.value));
  }
  return data;
}

inline std::string ReadToClose(const platform::Socket& socket) {
  return ReadAtLeast(socket, static_cast<size_t>(-1));
}

// True when the peer closed (or the time-out passed) with no further bytes.
inline bool PeerClosed(const platform::Socket& socket) {
  char byte;
  return platform::Recv(socket, &byte, 1).value <= 0;
}

// A one-shot signal between a test and a scripted peer.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(gateLock);
    open = true;
    changed.notify_all();
  }
  // False when it stayed shut for 10 s (a failed test, not a timing check).
  bool Wait() {
    std::unique_lock<std::mutex> lock(gateLock);
    return changed.wait_for(lock, std::chrono::seconds(10), [this] { return open; });
  }

 private:
  std::mutex gateLock;  // leaf
  std::condition_variable changed;
  bool open = false;  // guarded by gateLock
};

// One accepted connection on the origin side.
class OriginPeer {
 public:
  explicit OriginPeer(platform::Socket socket) : socket_(std::move(socket)) { BoundReads(socket_); }

  // One request: its header, then as many body bytes as its Content-Length names. Empty when the
  // peer closed first.
  std::string ReadRequest() {
    for (;;) {
      size_t headerEnd = pending_.find("\r\n\r\n");
      if (headerEnd != std::string::npos) {
        size_t total = headerEnd + 4 + BodyLength(pending_.substr(0, headerEnd + 4));
        if (pending_.size() >= total) {
          std::string request = pending_.substr(0, total);
          pending_.erase(0, total);
          return request;
        }
      }
      if (!ReadMore()) {
        return std::string();
      }
    }
  }

  // The header alone, leaving any body unread (for 100 Continue).
  std::string ReadHeader() {
    for (;;) {
      size_t headerEnd = pending_.find("\r\n\r\n");
      if (headerEnd != std::string::npos) {
        std::string header = pending_.substr(0, headerEnd + 4);
        pending_.erase(0, header.size());
        return header;
      }
      if (!ReadMore()) {
        return std::string();
      }
    }
  }

  std::string ReadExactly(size_t count) {
    while (pending_.size() < count) {
      if (!ReadMore()) {
        break;
      }
    }
    std::string bytes = pending_.substr(0, count);
    pending_.erase(0, bytes.size());
    return bytes;
  }

  // What has arrived, at most `count` bytes, waiting for at least one. Empty when the peer closed.
  std::string ReadSome(size_t count) {
    if (pending_.empty() && !ReadMore()) {
      return std::string();
    }
    std::string bytes = pending_.substr(0, count);
    pending_.erase(0, bytes.size());
    return bytes;
  }

  bool Send(std::string_view bytes) { return SendText(socket_, bytes); }
  bool PeerClosed() { return pending_.empty() && testing::PeerClosed(socket_); }
  void Close() { socket_.Close(); }
  platform::Socket& Socket() { return socket_; }

 private:
  static size_t BodyLength(const std::string& header) {
    std::string lower = header;
    for (char& c : lower) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    size_t at = lower.find("\ncontent-length:");
    return at == std::string::npos ? 0 : std::stoul(lower.substr(at + 16));
  }

  bool ReadMore() {
    char buffer[65536];
    platform::SysCallResult result = platform::Recv(socket_, buffer, sizeof(buffer));
    if (result.value <= 0) {
      return false;
    }
    pending_.append(buffer, static_cast<size_t>(result.value));
    return true;
  }

  platform::Socket socket_;
  std::string pending_;
};

// An origin server on 127.0.0.1 that runs `script` for each connection it accepts, each on its
// own thread. Stops and joins everything when destroyed.
class ScriptedOrigin {
 public:
  using Script = std::function<void(OriginPeer&)>;

  explicit ScriptedOrigin(Script script) : script_(std::move(script)) {
    platform::SocketResult created = platform::CreateTcpSocket();
    listening_ = std::move(created.value);
    if (!platform::BindIPv4(listening_, INADDR_LOOPBACK, 0).Ok() ||
        !platform::Listen(listening_, 16).Ok()) {
      std::abort();  // no origin to test against
    }
    port_ = static_cast<uint16_t>(platform::LocalPort(listening_).value);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  }

  ~ScriptedOrigin() {
    stop_.store(true);
    (void)platform::Shutdown(listening_.Fd());  // wakes the accept loop
    acceptThread_.join();
    for (std::thread& thread : peers_) {
      thread.join();
    }
  }

  uint16_t Port() const { return port_; }
  int Accepted() const { return accepted_.load(); }

 private:
  void AcceptLoop() {
    while (!stop_.load()) {
      platform::SocketResult accepted = platform::Accept(listening_);
      if (!accepted.value.Valid()) {
        break;
      }
      accepted_.fetch_add(1);
      auto peer = std::make_shared<OriginPeer>(std::move(accepted.value));
      peers_.emplace_back([this, peer] { script_(*peer); });
    }
  }

  Script script_;
  platform::Socket listening_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread acceptThread_;
  std::vector<std::thread> peers_;  // touched by the accept thread only, then joined after it
};

class RecordingErrorSink : public ListenerErrorSink {
 public:
  void ShowError(const std::string& text) override { errors.push_back(text); }
  std::vector<std::string> errors;
};

// The engine with its store, listening on an ephemeral port.
struct TestEngine {
  explicit TestEngine(EngineLimits limits = {})
      : context(store, limits), listener(context, settings, errors) {}

  ~TestEngine() {
    listener.StopListening();
    // Connection threads use the store and the context: they must all be gone first.
    if (!context.StopConnections(std::chrono::seconds(10))) {
      std::abort();
    }
  }

  bool Start() { return listener.StartListeningOnEphemeralPortForTest(); }
  platform::Socket Browser() { return ConnectLoopback(listener.BoundPort()); }
  // Waits for every connection to end, so their conversations are complete.
  bool Drain() { return context.StopConnections(std::chrono::seconds(10)); }

  capture::ConversationStore store;
  EngineContext context;
  ProxySettings settings;
  RecordingErrorSink errors;
  ProxyListener listener;
};

}  // namespace rw::proxy::testing
