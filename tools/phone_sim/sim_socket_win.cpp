#include "tools/phone_sim/sim_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <utility>

namespace phonesim {

namespace {

SOCKET raw(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

bool toAddress(const std::string& address, std::uint16_t port, sockaddr_in& out) {
  out = sockaddr_in{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

std::string wsaError(const std::string& what) {
  return what + " failed, WSA " + std::to_string(WSAGetLastError());
}

// A new TCP socket and the address it is for; INVALID_SOCKET, with the reason in `error`, on failure.
SOCKET newTcpSocket(const std::string& address, std::uint16_t port, sockaddr_in& addr, std::string& error) {
  if (!toAddress(address, port, addr)) {
    error = "not an IPv4 address: " + address;
    return INVALID_SOCKET;
  }
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) error = wsaError("socket");
  return s;
}

}  // namespace

bool initSockets() {
  static const bool started = [] {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    std::atexit([] { WSACleanup(); });
    return true;
  }();
  return started;
}

Socket Socket::openTcp(const std::string& address, std::uint16_t port, bool listen, std::string& error) {
  sockaddr_in addr;
  SOCKET s = newTcpSocket(address, port, addr, error);
  if (s == INVALID_SOCKET) return Socket();
  Socket owner(static_cast<std::intptr_t>(s));
  const auto* where = reinterpret_cast<const sockaddr*>(&addr);
  bool done = false;
  if (listen) {
    // Without it another program could bind the same port and take our connections.
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    done = ::bind(s, where, sizeof addr) == 0 && ::listen(s, 4) == 0;
  } else {
    done = ::connect(s, where, sizeof addr) == 0;
  }
  if (!done) {
    error = wsaError((listen ? "listen on " : "connect to ") + address + ":" + std::to_string(port));
    return Socket();
  }
  return owner;
}

std::uint16_t Socket::localPort() const {
  sockaddr_in addr{};
  int size = sizeof addr;
  if (!valid() || getsockname(raw(handle_), reinterpret_cast<sockaddr*>(&addr), &size) != 0) return 0;
  return ntohs(addr.sin_port);
}

Socket Socket::accept(std::string& peer) {
  sockaddr_in addr{};
  int size = sizeof addr;
  SOCKET s = ::accept(raw(handle_), reinterpret_cast<sockaddr*>(&addr), &size);
  if (s == INVALID_SOCKET) return Socket();
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  peer = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
  return Socket(static_cast<std::intptr_t>(s));
}

Socket::Wait Socket::waitReadable(int timeoutMs) const {
  WSAPOLLFD p{};
  p.fd = raw(handle_);
  p.events = POLLRDNORM;
  int n = WSAPoll(&p, 1, timeoutMs);
  if (n == 0) return Wait::Timeout;
  if (n < 0) return Wait::Failed;
  return Wait::Ready;  // readable, closed or failed: the next receive tells which
}

long Socket::receive(std::uint8_t* data, std::size_t size) {
  int want = size > 0x7FFFFFFF ? 0x7FFFFFFF : int(size);
  int n = ::recv(raw(handle_), reinterpret_cast<char*>(data), want, 0);
  return n < 0 ? -1 : long(n);
}

bool Socket::sendAll(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    int want = size > 0x7FFFFFFF ? 0x7FFFFFFF : int(size);
    int n = ::send(raw(handle_), reinterpret_cast<const char*>(data), want, 0);
    if (n <= 0) return false;
    data += n;
    size -= std::size_t(n);
  }
  return true;
}

void Socket::setNoDelay() {
  BOOL on = TRUE;
  setsockopt(raw(handle_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void Socket::shutdownSend() {
  if (valid()) ::shutdown(raw(handle_), SD_SEND);
}

void Socket::shutdownBoth() {
  if (valid()) ::shutdown(raw(handle_), SD_BOTH);
}

void Socket::close() {
  if (valid()) closesocket(raw(std::exchange(handle_, kInvalid)));
}

}  // namespace phonesim
