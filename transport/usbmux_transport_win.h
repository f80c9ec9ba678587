// The phone over its USB cable, through the Apple Mobile Device Service: each attempt asks the
// service for its devices, then for a tunnel to a TCP port on the first one, and uses the
// tunnel as a plain byte stream. Same sink, state reports, 1.5 s pauses and reconnects as
// the Wi-Fi transport. Windows only.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "transport/worker_pacing_win.h"

namespace transport {

struct MuxChannel;

class UsbMuxTransport : public WorkerTransport {
 public:
  explicit UsbMuxTransport(std::uint16_t port);
  ~UsbMuxTransport() override { UsbMuxTransport::stop(); }  // named: no derived part is left to dispatch to

  // Also ends a handshake in progress and a pipe read, without waiting for the service.
  void stop() override;
  bool send(std::span<const std::uint8_t> bytes) override;

 private:
  bool attempt(std::int64_t& lastActivity) override;
  MuxChannel openTunnel(std::uint16_t port);
  void runSocketTunnel(std::uintptr_t s, std::int64_t& lastActivity);
  void runPipeTunnel(void* pipe, std::int64_t& lastActivity);
  bool lendToStop(const MuxChannel& channel);
  void closeHandshake(MuxChannel& channel);

  std::uint16_t port_;
  std::atomic<void*> pipe_{nullptr};  // the tunnel over the pipe; null means none
  // A service socket during the handshake, so that stop can close it; 0 means none.
  std::atomic<std::uintptr_t> handshakeSocket_{0};
};

}  // namespace transport
