// TCP client to the phone on the local network. One worker thread connects, hands each received
// chunk to its sink, reports its state, and after any loss pauses 1.5 s and tries again until
// stopped. A name lookup or a connect to an address that does not answer never holds stop: both
// are waited for with a time-out and cut short by stop. Windows only (Winsock).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "transport/worker_pacing_win.h"

namespace transport {

class WifiTransport : public WorkerTransport {
 public:
  WifiTransport(std::string host, std::uint16_t port);
  ~WifiTransport() override { WifiTransport::stop(); }  // named: no derived part is left to dispatch to

  void stop() override;
  bool send(std::span<const std::uint8_t> bytes) override;

 private:
  bool attempt(std::int64_t& lastActivity) override;
  void receive(std::uintptr_t socket, std::int64_t& lastActivity);

  std::string host_;
  std::uint16_t port_;
};

}  // namespace transport
