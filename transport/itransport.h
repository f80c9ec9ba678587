// The interface of both transports: a worker thread that connects, hands every received chunk
// to onData, reports its state through onState, and reconnects after every loss until stopped.
#pragma once

#include <cstdint>
#include <span>

#include "transport/callback.h"
#include "transport/state.h"

namespace transport {

class ITransport {
 public:
  // Set by the owner before start; either may be empty. onData's span points into the
  // transport's receive buffer and is valid only during the call.
  Callback<void(std::span<const std::uint8_t>)> onData;
  Callback<void(State)> onState;

  virtual ~ITransport() = default;
  // Starts the worker; false if it was already running.
  virtual bool start() = 0;
  // Stops the worker and waits for it; never call it from the worker itself.
  virtual void stop() = 0;
  // Writes every byte on the live connection; false if there is none or a write fails.
  virtual bool send(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace transport
