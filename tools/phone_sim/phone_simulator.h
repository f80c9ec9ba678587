// A stand-in for the phone app: a TCP server that, on every connection, sends the server hello,
// records what the client sends back, and streams an orientation message, an audio format
// message, the access units of an H.264 clip (looped, 30 per second) and a 1 kHz tone (every
// 10 ms), paced in real time with microsecond timestamps that keep increasing across loops and
// connections. It serves one connection at a time and accepts the next after a close.
//
// Faults for tests: writes cut into small pieces, garbage before the server hello, a close
// after a given number of bytes, a stall (silence, still connected) after a given number, a
// first connection that falls silent for good with its socket left open (a phone that left the
// network or lost power), and a damaged magic in every Nth video frame's header.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/phone_sim/access_unit_splitter.h"
#include "tools/phone_sim/sim_socket.h"

namespace phonesim {

struct SimulatorOptions {
  std::uint16_t port = 5555;          // 0 takes a free port; see PhoneSimulator::port
  std::string bindAddress = "127.0.0.1";
  std::string clipPath;               // H.264 Annex B with access unit delimiters
  int rotation = 0;                   // degrees, as sent in the orientation message
  bool mirror = false;
  bool audio = true;
  double fps = 30.0;                  // video pace
  long long maxFrames = -1;           // video frames per connection, then silence; -1 for ever
  std::size_t chunk = 0;              // write in pieces of this many bytes; 0 for whole messages
  std::size_t garbage = 0;            // bytes of garbage before the server hello
  int garbagePauseMs = 200;           // pause after the garbage, so it reaches the client on its own
  long long closeAfter = -1;          // close each connection after this many bytes; -1 never
  long long stallAfter = -1;          // fall silent once on each connection after this many bytes
  int stallMs = 3000;                 // for this long, then go on where it stopped
  long long silentAfter = -1;         // the first connection falls silent for good after this
                                      // many bytes, left open and unread; -1 never
  long long damageEvery = 0;          // damage the magic of every Nth video frame; 0 never
};

// One frame the simulator began to send.
struct SentFrame {
  std::uint8_t type = 0;
  std::uint64_t timestampUs = 0;
  std::uint32_t size = 0;      // payload bytes
  std::uint32_t hash = 0;      // payloadHash of the payload
  bool complete = false;       // every byte was written before the connection ended
  bool damaged = false;        // sent with a damaged magic
};

struct ConnectionRecord {
  std::string peer;
  std::vector<std::uint8_t> clientBytes;  // what the client sent, the first kMaxClientBytes
  std::uint64_t clientByteCount = 0;      // everything the client sent
  bool clientHello = false;               // its first 16 bytes were the client hello
  std::uint64_t bytesSent = 0;            // garbage and hello included
  std::vector<SentFrame> frames;          // in order, the first kMaxRecordedFrames
  std::uint64_t videoFrames = 0;          // complete video frames
  std::uint64_t keyFrames = 0;            // complete type-2 frames
  std::uint64_t damagedFrames = 0;        // complete video frames sent with a damaged magic
  bool streamDone = false;                // maxFrames reached
  bool silent = false;                    // fell silent for good, its socket left open
  bool closed = false;
};

class PhoneSimulator {
 public:
  static constexpr std::size_t kMaxClientBytes = 4096;
  static constexpr std::size_t kMaxRecordedFrames = 100000;
  static constexpr std::size_t kMaxRecordedConnections = 256;

  explicit PhoneSimulator(SimulatorOptions options);
  ~PhoneSimulator();
  PhoneSimulator(const PhoneSimulator&) = delete;
  PhoneSimulator& operator=(const PhoneSimulator&) = delete;

  // One line per event (connection, client hello, close, errors), without a line feed; set
  // before start. Called on the simulator's thread.
  std::function<void(const std::string&)> onLog;

  // Loads the clip, listens and starts serving; false (and a log line) on any failure.
  bool start();
  // Closes the live connection and the listener and waits for the worker.
  void stop();

  std::uint16_t port() const { return port_; }
  std::size_t clipUnitCount() const { return units_.size(); }
  // A copy of the records of every connection so far (at most kMaxRecordedConnections).
  std::vector<ConnectionRecord> connections() const;

 private:
  using Clock = std::chrono::steady_clock;
  class Session;

  void run();
  void log(const char* format, ...);
  bool loadClip();

  SimulatorOptions options_;
  std::vector<std::uint8_t> clip_;
  std::vector<AccessUnit> units_;
  std::vector<std::uint8_t> tone_;
  Clock::time_point epoch_{};  // timestamp zero
  std::uint16_t port_ = 0;

  Socket listener_;
  std::atomic<bool> running_{false};
  std::thread worker_;
  std::mutex liveMutex_;       // guards live_: stop shuts it down to wake the worker
  Socket* live_ = nullptr;

  mutable std::mutex recordsMutex_;
  std::vector<ConnectionRecord> records_;
};

}  // namespace phonesim
