// Connects the stream spine (Wi-Fi transport and stream controller) to a phone, or to the phone
// simulator, and prints the statistics line once a second. Windows program.
//   stream_stats [host] [port] [seconds]     defaults: 127.0.0.1 5555 10 (0: until Ctrl-C)
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "receiver/protocol.h"
#include "receiver/stream_controller.h"
#include "transport/wifi_transport.h"

namespace {

std::atomic<bool> g_quit{false};

BOOL WINAPI onConsoleEvent(DWORD) {
  g_quit = true;
  return TRUE;
}

const char* stateName(transport::State s) {
  switch (s) {
    case transport::State::Idle: return "Idle";
    case transport::State::Listening: return "Listening";
    case transport::State::Connected: return "Connected";
    case transport::State::Error: return "Error";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = argc > 1 ? argv[1] : "127.0.0.1";
  unsigned port = argc > 2 ? unsigned(std::strtoul(argv[2], nullptr, 10)) : receiver::kStreamPort;
  int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);

  receiver::StreamController controller;
  std::atomic<int> state{int(transport::State::Idle)};
  controller.onState = [&](transport::State s) {
    if (int(s) != state.exchange(int(s))) std::printf("state: %s\n", stateName(s));
  };
  controller.start(std::make_unique<transport::WifiTransport>(host, static_cast<std::uint16_t>(port)));

  // Nothing is previewed here (no decoder yet), so the preview rate reads 0.0.
  const double previewFps = 0.0;
  for (int i = 0; (seconds <= 0 || i < seconds) && !g_quit; ++i) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    receiver::StreamController::Stats s = controller.stats();
    char line[256];
    std::snprintf(line, sizeof line, "frames: %llu   keys: %llu   %.1f kbps   preview: %.1f fps",
                  static_cast<unsigned long long>(s.frames), static_cast<unsigned long long>(s.keys), s.kbps, previewFps);
    std::printf("%s\n", line);
    std::fflush(stdout);
  }
  controller.stop();
  return 0;
}
