#include "tools/phone_sim/sim_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace phonesim {

namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer gives EPIPE, not SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif

bool toAddress(const std::string& address, std::uint16_t port, sockaddr_in& out) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

}  // namespace

bool initSockets() { return true; }

Socket Socket::openTcp(const std::string& address, std::uint16_t port, bool listen, std::string& error) {
  sockaddr_in addr;
  if (!toAddress(address, port, addr)) {
    error = "not an IPv4 address: " + address;
    return Socket();
  }
  Socket s(::socket(AF_INET, SOCK_STREAM, 0));
  if (s.handle_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return Socket();
  }
  const int fd = int(s.handle_);
  const auto* where = reinterpret_cast<const sockaddr*>(&addr);
  bool done = false;
  if (listen) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    done = ::bind(fd, where, sizeof addr) == 0 && ::listen(fd, 4) == 0;
  } else {
    done = ::connect(fd, where, sizeof addr) == 0;
  }
  if (!done) {
    error = (listen ? "cannot listen on " : "cannot connect to ") + address + ":" + std::to_string(port) + ": " +
            std::strerror(errno);
    return Socket();
  }
  return s;
}

std::uint16_t Socket::localPort() const {
  sockaddr_in addr{};
  socklen_t size = sizeof addr;
  if (handle_ < 0 || getsockname(int(handle_), reinterpret_cast<sockaddr*>(&addr), &size) != 0) return 0;
  return ntohs(addr.sin_port);
}

Socket Socket::accept(std::string& peer) {
  sockaddr_in addr{};
  socklen_t size = sizeof addr;
  int fd = ::accept(int(handle_), reinterpret_cast<sockaddr*>(&addr), &size);
  if (fd < 0) return Socket();
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  peer = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
  return Socket(fd);
}

Socket::Wait Socket::waitReadable(int timeoutMs) const {
  pollfd p{};
  p.fd = int(handle_);
  p.events = POLLIN;
  int n = ::poll(&p, 1, timeoutMs);
  if (n == 0) return Wait::Timeout;
  if (n < 0) return errno == EINTR ? Wait::Timeout : Wait::Failed;
  return Wait::Ready;  // readable, closed or failed: the next receive tells which
}

long Socket::receive(std::uint8_t* data, std::size_t size) {
  ssize_t n;
  do {
    n = ::recv(int(handle_), data, size, 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : long(n);
}

bool Socket::sendAll(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(int(handle_), data, size, kSendFlags);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= std::size_t(n);
  }
  return true;
}

void Socket::setNoDelay() {
  int on = 1;
  setsockopt(int(handle_), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void Socket::shutdownSend() {
  if (handle_ >= 0) ::shutdown(int(handle_), SHUT_WR);
}

void Socket::shutdownBoth() {
  if (handle_ >= 0) ::shutdown(int(handle_), SHUT_RDWR);
}

void Socket::close() {
  if (handle_ >= 0) ::close(int(std::exchange(handle_, kInvalid)));
}

}  // namespace phonesim
