// The phone over its USB cable, through the Apple Mobile Device Service: each attempt asks the
// service for its devices, then for a tunnel to a TCP port on the first one, and uses the
// tunnel as a plain byte stream. Same sink, state reports, 1.5 s pauses and reconnects as
// the Wi-Fi transport. Windows only.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

#include "transport/itransport.h"

namespace transport {

struct MuxChannel;

class UsbMuxTransport : public ITransport {
 public:
  explicit UsbMuxTransport(std::uint16_t port);
  ~UsbMuxTransport() override;

  bool start(TransportSink& sink) override;
  // Also ends a handshake in progress and a pipe read, without waiting for the service.
  void stop() override;
  bool send(std::span<const std::uint8_t> bytes) override;

 private:
  void run();
  MuxChannel openTunnel(std::uint16_t port);
  void runSocketTunnel(std::uintptr_t s, std::int64_t& lastActivity);
  void runPipeTunnel(void* pipe, std::int64_t& lastActivity);
  bool lendToStop(const MuxChannel& channel);
  void closeHandshake(MuxChannel& channel);

  std::uint16_t port_;
  std::atomic<bool> running_{false};
  std::thread worker_;
  TransportSink* sink_ = nullptr;  // set by start, before the worker runs
  std::atomic<std::uintptr_t> socket_{0};  // the tunnel over TCP; 0 means none
  std::atomic<void*> pipe_{nullptr};       // the tunnel over the pipe; null means none
  // A service socket during the handshake, so that stop can close it; 0 means none.
  std::atomic<std::uintptr_t> handshakeSocket_{0};
  void* wake_ = nullptr;  // manual-reset event: set by stop, ends pipe I/O in progress
};

}  // namespace transport
