// A stand-in for the Apple Mobile Device Service, for tests and manual runs: serves the usbmux
// packet protocol on TCP 127.0.0.1 (port 27015 unless told otherwise) and on the named pipe
// \\.\pipe\iTunes_USBMuxService. ListDevices is answered with the configured device
// identifiers; Connect opens a TCP tunnel to the port it names (sent byte-swapped) on the
// tunnel host, where the phone simulator listens, answering "Number" 0, or 3 when nothing
// listens there, or a configured rejection. Fault modes break the replies on purpose.
// Windows only.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/phone_sim/sim_socket.h"

namespace usbmuxemu {

class Link;
class PipeListener;

enum class Fault {
  None,
  CloseEarly,       // closes the connection instead of answering
  BogusLength,      // the answer's header announces EmulatorOptions::bogusLength as total length
  NoNumber,         // Connect: a Result without "Number" (no tunnel)
  HalfHeaderStall,  // 8 of the 16 header bytes, then silence until the client goes away
};

struct EmulatorOptions {
  bool tcp = true;
  std::uint16_t tcpPort = 27015;
  bool pipe = false;
  std::vector<std::uint32_t> deviceIds = {1};  // empty: no phone attached
  std::string listReply;                       // when set, sent verbatim as the ListDevices answer
  std::string tunnelHost = "127.0.0.1";
  std::optional<std::int32_t> rejectWith;  // answer every Connect with this Number, no tunnel
  Fault listFault = Fault::None;
  Fault connectFault = Fault::None;
  std::uint32_t bogusLength = 15;
};

enum class Via { Tcp, Pipe };

// One request as received.
struct MuxRequest {
  Via via = Via::Tcp;
  std::uint32_t tag = 0;
  std::string messageType;
  std::optional<std::uint32_t> deviceId;
  std::optional<std::uint32_t> portNumber;  // as sent, byte-swapped
  std::string text;
};

// The ListDevices answer the service gives for these devices: each identifier appears twice,
// in the entry and in its properties, as the real service writes it.
std::string deviceListPlist(const std::vector<std::uint32_t>& ids);
// A Result message; without a number when `number` is empty.
std::string resultPlist(std::optional<std::int32_t> number);

class UsbMuxEmulator {
 public:
  explicit UsbMuxEmulator(EmulatorOptions options);
  ~UsbMuxEmulator();
  UsbMuxEmulator(const UsbMuxEmulator&) = delete;
  UsbMuxEmulator& operator=(const UsbMuxEmulator&) = delete;

  // One line per event, without a line feed; set before start. Called on the emulator's threads.
  std::function<void(const std::string&)> onLog;

  // Listens and serves; false, with the reason in error() and on onLog, when a listener
  // cannot be set up (the TCP port or the pipe name already taken).
  bool start();
  // Closes every listener and connection, tunnels included, and waits for all threads.
  void stop();

  std::string error() const { return error_; }
  std::vector<MuxRequest> requests() const;
  int connections(Via via) const;
  int tunnels() const { return tunnels_.load(); }

 private:
  struct Session;

  void acceptTcp();
  void acceptPipe();
  void startSession(std::unique_ptr<Link> link, Via via);
  void reapSessions(bool all);
  void serve(Session& session, Via via);
  bool answer(Link& link, std::uint32_t tag, const std::string& payload, Fault fault);
  void connectTunnel(Session& session, const MuxRequest& request);
  void log(const std::string& line);

  EmulatorOptions options_;
  std::string error_;
  std::atomic<bool> running_{false};
  phonesim::Socket tcpListener_;
  std::unique_ptr<PipeListener> pipeListener_;
  std::thread tcpThread_;
  std::thread pipeThread_;

  std::mutex sessionsMutex_;  // guards sessions_ and each session's links
  std::vector<std::unique_ptr<Session>> sessions_;

  mutable std::mutex recordsMutex_;
  std::vector<MuxRequest> requests_;
  int tcpConnections_ = 0;
  int pipeConnections_ = 0;
  std::atomic<int> tunnels_{0};
};

}  // namespace usbmuxemu
