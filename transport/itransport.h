// The interface of both transports: a worker thread that connects, hands every received chunk
// to the sink given at start, reports its state to it, and reconnects after every loss until
// stopped.
#pragma once

#include <cstdint>
#include <span>

#include "transport/state.h"

namespace transport {

// Where a transport's bytes and states go, on its worker thread, from start until stop returns.
// The chunk points into the transport's receive buffer and is valid only during the call.
class TransportSink {
 public:
  virtual void received(std::span<const std::uint8_t> chunk) = 0;
  virtual void transportState(State) {}

 protected:
  ~TransportSink() = default;
};

class ITransport {
 public:
  virtual ~ITransport() = default;
  // Starts the worker, which calls `sink` (it outlives the worker); false if it was already
  // running.
  virtual bool start(TransportSink& sink) = 0;
  // Stops the worker and waits for it; never call it from the worker itself.
  virtual void stop() = 0;
  // Writes every byte on the live connection; false if there is none or a write fails.
  virtual bool send(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace transport
