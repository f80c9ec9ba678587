// TCP client to the phone on the local network. One worker thread connects, hands each received
// chunk to onData, reports its state, and after any loss pauses 1.5 s and tries again until
// stopped. Windows only (Winsock).
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

  bool start() override;
  void stop() override;
  bool send(std::span<const std::uint8_t> bytes) override;

 private:
  void run();

  std::string host_;
  std::uint16_t port_;
  std::atomic<bool> running_{false};
  std::thread worker_;
  std::atomic<std::uintptr_t> socket_{0};  // the live socket; 0 means none
};

}  // namespace transport
