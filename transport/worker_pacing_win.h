// What both transports' workers share: the worker thread with its running flag, the sink, the
// live socket and the wake event; the loop of attempts, with the state reported before each
// and the pause after every failure or loss; and their socket writes and closes. Windows only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "common/steady_clock.h"
#include "common/unique_handle.h"
#include "transport/itransport.h"
#include "transport/state.h"

namespace transport {

// Bytes handed to the sink per receive.
constexpr std::size_t kReceiveBufferSize = 65536;

// A connection on which nothing has arrived for this long is dead (a phone that left the
// network, slept or lost power closes nothing): it is closed and counts as a loss. Any byte
// counts, metadata included. A live phone sends sound every 10 ms and a picture every frame:
// with its sound off, or with its pictures paused while it turns (its sound goes on), a gap
// stays far below this.
constexpr unsigned kSilenceLimitMs = 5000;

// What every stream socket gets once connected: no delay for small writes (the client hello
// leaves at once), and a receive that gives up with WSAETIMEDOUT after kSilenceLimitMs.
void prepareStreamSocket(std::uintptr_t socket);

// Listening before every attempt, except Idle once a connection has been made and more than
// 8 s (exactly 8 s still counts as recent) have passed since the last activity.
State attemptState(bool everConnected, std::int64_t lastActivityNs);

// Shuts a socket down both ways (waking a recv blocked on it) and closes it.
void shutdownAndClose(std::uintptr_t socket);

// Writes every byte on a connected socket, in as many sends as it takes; false when a send
// fails or moves nothing. Nothing to write is true.
bool sendAll(std::uintptr_t socket, const void* data, std::size_t size);

// A transport whose worker makes one attempt after another until stopped. Its thread has
// Winsock and COM (the sound player opens its device on it) and runs above normal priority: the
// phone's sound arrives here too, and on a busy machine it must not wait behind decoding and
// drawing. Every derived destructor stops the worker, while its own part still exists.
class WorkerTransport : public ITransport {
 public:
  bool start(TransportSink& sink) final;

 protected:
  WorkerTransport();

  // Connects once and, when that works, serves the connection until it ends or stop comes
  // (updating `lastActivity`); true when a connection was made.
  virtual bool attempt(std::int64_t& lastActivity) = 0;
  // Each stop's frame: once the running flag is down, `interrupt` ends what the worker waits
  // for, then the worker is waited for. Nothing happens when it is not running.
  template <typename Interrupt>
  void stopWorker(Interrupt interrupt) {
    if (!running_.exchange(false)) return;
    interrupt();
    if (worker_.joinable()) worker_.join();
  }

  std::atomic<bool> running_{false};
  TransportSink* sink_ = nullptr;  // set by start, before the worker runs
  std::atomic<std::uintptr_t> socket_{0};  // the live socket; 0 means none
  common::UniqueHandle wake_;  // manual-reset event: set by stop, ends waits in progress

 private:
  void run();

  std::thread worker_;
};

}  // namespace transport
