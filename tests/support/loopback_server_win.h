// A TCP listener on 127.0.0.1 for Windows tests: accepts with a deadline, sends, reads.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace testsupport {

void startWinsock();

class LoopbackServer {
 public:
  LoopbackServer();  // listens on an ephemeral port
  ~LoopbackServer();
  std::uint16_t port() const { return port_; }
  // The next connection, or INVALID_SOCKET after `timeout`.
  SOCKET accept(std::chrono::milliseconds timeout);
  void closeListener();

 private:
  SOCKET listener_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (connections are refused).
std::uint16_t refusedPort();

// A listener on 127.0.0.1 that never accepts and whose accept queue is full, so a further
// connect hangs as it would to an address that does not answer.
class FullListener {
 public:
  explicit FullListener(std::uint16_t port = 0);  // 0: an ephemeral port
  ~FullListener();
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  std::uint16_t port() const { return port_; }
  // Whether a connect of its own hung (the queue is full); false if the port was taken.
  bool full() const { return full_; }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  std::vector<SOCKET> queued_;
  std::uint16_t port_ = 0;
  bool full_ = false;
};

bool sendAll(SOCKET s, const std::vector<std::uint8_t>& bytes);
// Reads until `size` bytes arrived, the peer closed, or `timeout` passed.
std::vector<std::uint8_t> receiveUpTo(SOCKET s, std::size_t size, std::chrono::milliseconds timeout);

}  // namespace testsupport
