#include "support/loopback_server_win.h"

namespace testsupport {

void startWinsock() {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

LoopbackServer::LoopbackServer() {
  startWinsock();
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(listener_, 8);
  int len = sizeof addr;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

LoopbackServer::~LoopbackServer() { closeListener(); }

void LoopbackServer::closeListener() {
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  listener_ = INVALID_SOCKET;
}

SOCKET LoopbackServer::accept(std::chrono::milliseconds timeout) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(listener_, &set);
  timeval tv{static_cast<long>(timeout.count() / 1000), static_cast<long>((timeout.count() % 1000) * 1000)};
  if (select(0, &set, nullptr, nullptr, &tv) != 1) return INVALID_SOCKET;
  return ::accept(listener_, nullptr, nullptr);
}

std::uint16_t refusedPort() {
  LoopbackServer probe;  // an ephemeral port that is free once the listener closes
  return probe.port();
}

FullListener::FullListener(std::uint16_t port) {
  startWinsock();
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener_, 1) != 0) return;
  int len = sizeof addr;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  // Connect until one hangs: the queue is then full and stays so, since nothing accepts.
  for (int i = 0; i < 16 && !full_; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval wait{0, 300000};
    full_ = select(0, nullptr, &writable, nullptr, &wait) == 0;
    queued_.push_back(s);
  }
}

FullListener::~FullListener() {
  for (SOCKET s : queued_) closesocket(s);
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
}

bool sendAll(SOCKET s, const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    int n = ::send(s, reinterpret_cast<const char*>(bytes.data() + sent), static_cast<int>(bytes.size() - sent), 0);
    if (n < 1) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::vector<std::uint8_t> receiveUpTo(SOCKET s, std::size_t size, std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> out;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (out.size() < size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{static_cast<long>(left.count() / 1000), static_cast<long>((left.count() % 1000) * 1000)};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) break;
    char buffer[4096];
    int n = recv(s, buffer, static_cast<int>(std::min<std::size_t>(sizeof buffer, size - out.size())), 0);
    if (n < 1) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

}  // namespace testsupport
