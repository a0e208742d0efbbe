// The engine's time limits and bounds, in one place. Fixed for the life of an EngineContext;
// tests construct the context with shorter ones.
#pragma once

#include <chrono>
#include <cstdint>

namespace rw::proxy {

// A server that has not accepted the connection by then gets the connection-failure page.
inline constexpr std::chrono::milliseconds kConnectTimeout{20000};
// A browser that has sent part of a request header and then nothing for this long is closed.
inline constexpr std::chrono::milliseconds kHeaderTimeout{60000};
// A browser connection with no exchange under way for this long is closed: longer than a browser
// keeps an idle connection itself.
inline constexpr std::chrono::milliseconds kIdleTimeout{300000};
// HTTPS inspection: how long the browser has to begin speaking in a tunnel (then it stays a
// plain tunnel: some protocols wait for the server), and each TLS handshake to complete.
inline constexpr std::chrono::milliseconds kFirstTunnelByteTimeout{10000};
inline constexpr std::chrono::milliseconds kTlsHandshakeTimeout{10000};
// Connection threads at most; further browser connections wait in the listen queue until one
// ends. Well above the thousand connections a browser session may open at once.
inline constexpr int32_t kMaxConnectionThreads = 4096;
// The held text pages of all connections together may take twice the memory limit, but never
// less than this.
inline constexpr int64_t kMinHeldPageBudget = int64_t{32} * 1024 * 1024;

struct EngineLimits {
  std::chrono::milliseconds connectTimeout = kConnectTimeout;
  std::chrono::milliseconds headerTimeout = kHeaderTimeout;
  std::chrono::milliseconds idleTimeout = kIdleTimeout;
  std::chrono::milliseconds firstTunnelByteTimeout = kFirstTunnelByteTimeout;
  std::chrono::milliseconds tlsHandshakeTimeout = kTlsHandshakeTimeout;
  int32_t maxConnectionThreads = kMaxConnectionThreads;
  int64_t minHeldPageBudget = kMinHeldPageBudget;
};

}  // namespace rw::proxy
