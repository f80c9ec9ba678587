// TCP client to the phone on the local network. One worker thread connects, hands each received
// chunk to its sink, reports its state, and after any loss pauses 1.5 s and tries again until
// stopped. A name lookup or a connect to an address that does not answer never holds stop: both
// are waited for with a time-out and cut short by stop. Windows only (Winsock).
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>

#include "transport/itransport.h"

namespace transport {

class WifiTransport : public ITransport {
 public:
  WifiTransport(std::string host, std::uint16_t port);
  ~WifiTransport() override;

  bool start(TransportSink& sink) override;
  void stop() override;
  bool send(std::span<const std::uint8_t> bytes) override;

 private:
  void run();
  void receive(std::uintptr_t socket, std::int64_t& lastActivity);

  std::string host_;
  std::uint16_t port_;
  std::atomic<bool> running_{false};
  std::thread worker_;
  TransportSink* sink_ = nullptr;  // set by start, before the worker runs
  std::atomic<std::uintptr_t> socket_{0};  // the live socket; 0 means none
  void* wake_ = nullptr;  // manual-reset event: set by stop, ends a lookup or connect in progress
};

}  // namespace transport
