// Connection state reported by a transport.
#pragma once

#include <cstdint>

namespace transport {

enum class State : std::int32_t {
  Idle = 0,       // not connected and not recently connected; also when a worker ends
  Listening = 1,  // trying to connect
  Connected = 2,  // a connection is up and data may flow
  Error = 3,      // network error; no transport reports it, every consumer accepts it
};

}  // namespace transport
