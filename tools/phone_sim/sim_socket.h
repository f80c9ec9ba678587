// The few TCP socket calls the phone simulator needs, over POSIX sockets or Winsock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace phonesim {

// Starts the platform's socket library once per process (Winsock); true elsewhere.
bool initSockets();

class Socket {
 public:
  enum class Wait { Ready, Timeout, Failed };

  Socket() = default;
  ~Socket() { close(); }
  Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, kInvalid)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, kInvalid);
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // A listening socket on an IPv4 address; port 0 takes a free port. Invalid on failure,
  // with the reason in `error`.
  static Socket listenTcp(const std::string& address, std::uint16_t port, std::string& error) {
    return openTcp(address, port, true, error);
  }
  // A connected client socket (used by tests and tools).
  static Socket connectTcp(const std::string& address, std::uint16_t port, std::string& error) {
    return openTcp(address, port, false, error);
  }

  bool valid() const { return handle_ != kInvalid; }
  std::uint16_t localPort() const;
  // The next connection on a listening socket; `peer` gets "address:port".
  Socket accept(std::string& peer);
  Wait waitReadable(int timeoutMs) const;
  // Bytes read (> 0), 0 when the peer closed, -1 on error.
  long receive(std::uint8_t* data, std::size_t size);
  // Writes every byte; false on error.
  bool sendAll(const std::uint8_t* data, std::size_t size);
  // Sends small writes at once instead of gathering them.
  void setNoDelay();
  void shutdownSend();
  // Wakes a call blocked on this socket in another thread; the socket stays open.
  void shutdownBoth();
  void close();

 private:
  static constexpr std::intptr_t kInvalid = -1;
  explicit Socket(std::intptr_t handle) : handle_(handle) {}
  // A TCP socket listening on, or connected to, `address`:`port`.
  static Socket openTcp(const std::string& address, std::uint16_t port, bool listen, std::string& error);
  std::intptr_t handle_ = kInvalid;
};

}  // namespace phonesim
