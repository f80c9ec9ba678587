#include "transport/wifi_transport_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "common/debug_log.h"
#include "transport/winsock_init_win.h"
#include "transport/worker_pacing_win.h"

namespace transport {

WifiTransport::WifiTransport(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) {}

WifiTransport::~WifiTransport() {
  if (running_.load()) WifiTransport::stop();  // named: no derived part is left to dispatch to
}

bool WifiTransport::start() {
  if (running_.exchange(true)) return false;
  worker_ = std::thread([this] { run(); });
  return true;
}

void WifiTransport::stop() {
  if (!running_.exchange(false)) return;
  SOCKET s = static_cast<SOCKET>(socket_.exchange(0));
  if (s != 0) shutdownAndClose(s);  // wakes a recv the worker is blocked in
  if (worker_.joinable()) worker_.join();
}

bool WifiTransport::send(std::span<const std::uint8_t> bytes) {
  std::uintptr_t s = socket_.load();
  return s != 0 && sendAll(s, bytes.data(), bytes.size());
}

void WifiTransport::run() {
  ensureWinsock();
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the receive chain decodes on this thread

  std::int64_t lastActivity = steadyNowNs();
  bool everConnected = false;

  while (running_.load()) {
    onState(attemptState(everConnected, lastActivity));
    logLine("[WifiTransport] connect attempt to %s:%u\n", host_.c_str(), unsigned(port_));

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    char service[8];
    std::snprintf(service, sizeof service, "%u", unsigned(port_));
    addrinfo* result = nullptr;
    if (getaddrinfo(host_.c_str(), service, &hints, &result) != 0 || result == nullptr) {
      if (result) freeaddrinfo(result);
      logLine("[WifiTransport] getaddrinfo failed\n");
    } else {
      SOCKET s = socket(result->ai_family, result->ai_socktype, result->ai_protocol);
      if (s == INVALID_SOCKET) {
        freeaddrinfo(result);
      } else if (connect(s, result->ai_addr, static_cast<int>(result->ai_addrlen)) != 0) {
        logLine("[WifiTransport] connect() failed WSA=%d\n", WSAGetLastError());
        closesocket(s);
        freeaddrinfo(result);
      } else {
        freeaddrinfo(result);
        int noDelay = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
        socket_.store(static_cast<std::uintptr_t>(s));
        logLine("[WifiTransport] TCP connected\n");
        onState(State::Connected);
        everConnected = true;
        lastActivity = steadyNowNs();

        std::vector<std::uint8_t> buffer(kReceiveBufferSize);
        std::uint64_t total = 0;
        int count = 0;
        while (running_.load()) {
          int n = recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
          if (n < 1) {
            logLine("[WifiTransport] recv returned %d WSA=%d total=%llu — will reconnect\n", n, WSAGetLastError(),
                    static_cast<unsigned long long>(total));
            break;
          }
          lastActivity = steadyNowNs();
          total += static_cast<std::uint64_t>(n);
          if (count < 5) {
            logLine("[WifiTransport] recv #%d  %d bytes\n", count, n);
            ++count;
          }
          onData(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
        }
        // Whoever takes the socket out of socket_ closes it: stop may have done so already.
        std::uintptr_t expected = static_cast<std::uintptr_t>(s);
        if (socket_.compare_exchange_strong(expected, 0)) shutdownAndClose(s);
        if (!running_.load()) break;
      }
    }

    pauseBeforeNextAttempt(running_);
  }

  onState(State::Idle);
  CoUninitialize();
}

}  // namespace transport
