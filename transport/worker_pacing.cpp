#include "transport/worker_pacing.h"

#include <winsock2.h>
#include <windows.h>

namespace transport {

namespace {
constexpr std::int64_t kRecentNs = 8'000'000'000;
constexpr int kPauseSteps = 15;
}  // namespace

State attemptState(bool everConnected, std::int64_t lastActivityNs) {
  return everConnected && steadyNowNs() - lastActivityNs > kRecentNs ? State::Idle : State::Listening;
}

void pauseBeforeNextAttempt(const std::atomic<bool>& running) {
  for (int i = 0; i < kPauseSteps; ++i) {
    if (!running.load()) return;
    Sleep(100);
  }
}

void shutdownAndClose(std::uintptr_t socket) {
  SOCKET s = static_cast<SOCKET>(socket);
  shutdown(s, SD_BOTH);
  closesocket(s);
}

}  // namespace transport
