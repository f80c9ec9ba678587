// How the status bar shows a connection state: the text key of its pill and the colours of the
// dot and its halo. Any value outside the four states reads as idle.
#pragma once

#include <cstdint>

namespace app {

struct PillColor {
  std::uint8_t r, g, b, a;
};

struct StatePill {
  const char* key;
  PillColor dot;
  PillColor halo;
};

// `state` is a transport::State value: 0 Idle, 1 Listening, 2 Connected, 3 Error.
constexpr StatePill statePill(int state) {
  switch (state) {
    case 1:
      return {"connect.status.listening", {240, 170, 0, 255}, {240, 170, 0, 128}};
    case 2:
      return {"connect.status.connected", {46, 200, 88, 255}, {46, 200, 88, 128}};
    case 3:
      return {"error.network", {217, 58, 58, 255}, {217, 58, 58, 128}};
    default:
      return {"connect.status.idle", {128, 128, 132, 255}, {128, 128, 132, 128}};
  }
}

}  // namespace app
