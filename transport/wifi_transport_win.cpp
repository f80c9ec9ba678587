#include "transport/wifi_transport_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "common/debug_log.h"
#include "transport/interruptible_connect_win.h"
#include "transport/worker_pacing_win.h"

namespace transport {

namespace {

// TCP keep-alive probes once the phone has been silent for a second: a phone that comes back
// without the connection (restarted, or back on the network after a power loss) answers one
// with a reset, which ends the connection before the silence limit does.
void keepAlive(SOCKET s) {
  tcp_keepalive values{1, 1000, 1000};  // on, first probe after 1 s idle, then every 1 s
  DWORD returned = 0;
  if (WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr) != 0) {
    logLine("[WifiTransport] keep-alive not set WSA=%d\n", WSAGetLastError());
  }
}

}  // namespace

WifiTransport::WifiTransport(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) {}

void WifiTransport::stop() {
  stopWorker([this] {
    if (wake_) SetEvent(wake_.get());  // ends a lookup or connect in progress
    SOCKET s = static_cast<SOCKET>(socket_.exchange(0));
    if (s != 0) shutdownAndClose(s);  // wakes a recv the worker is blocked in
  });
}

bool WifiTransport::send(std::span<const std::uint8_t> bytes) {
  std::uintptr_t s = socket_.load();
  return s != 0 && sendAll(s, bytes.data(), bytes.size());
}

// One connection's receive loop; returns when the peer closes, the connection breaks or stop
// takes the socket.
void WifiTransport::receive(std::uintptr_t handle, std::int64_t& lastActivity) {
  SOCKET s = static_cast<SOCKET>(handle);
  prepareStreamSocket(handle);
  keepAlive(s);
  socket_.store(handle);
  logLine("[WifiTransport] TCP connected\n");
  sink_->transportState(State::Connected);
  lastActivity = steadyNowNs();

  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  std::uint64_t total = 0;
  int count = 0;
  while (running_.load()) {
    int n = recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
    if (n < 1) {
      const int error = WSAGetLastError();
      if (n < 0 && error == WSAETIMEDOUT) {
        logLine("[WifiTransport] nothing received for %u ms, total=%llu — connection dead, will reconnect\n",
                kSilenceLimitMs, static_cast<unsigned long long>(total));
      } else {
        logLine("[WifiTransport] recv returned %d WSA=%d total=%llu — will reconnect\n", n, error,
                static_cast<unsigned long long>(total));
      }
      break;
    }
    lastActivity = steadyNowNs();
    total += static_cast<std::uint64_t>(n);
    if (count < 5) {
      logLine("[WifiTransport] recv #%d  %d bytes\n", count, n);
      ++count;
    }
    sink_->received(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
  }
  // Whoever takes the socket out of socket_ closes it: stop may have done so already.
  std::uintptr_t expected = handle;
  if (socket_.compare_exchange_strong(expected, 0)) shutdownAndClose(s);
}

bool WifiTransport::attempt(std::int64_t& lastActivity) {
  logLine("[WifiTransport] connect attempt to %s:%u\n", host_.c_str(), unsigned(port_));
  sockaddr_in address{};
  const Wait resolved = resolveIpv4(host_, port_, wake_.get(), address);
  if (resolved == Wait::Woken) return false;
  if (resolved == Wait::Failed) {
    logLine("[WifiTransport] getaddrinfo failed\n");
    return false;
  }
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;  // no log line: the pause and the next attempt follow
  int error = 0;
  const Wait connected = connectOrWake(s, address, wake_.get(), error);
  if (connected != Wait::Done) {
    closesocket(s);
    if (connected == Wait::Failed) logLine("[WifiTransport] connect() failed WSA=%d\n", error);
    return false;
  }
  receive(static_cast<std::uintptr_t>(s), lastActivity);
  return true;
}

}  // namespace transport
