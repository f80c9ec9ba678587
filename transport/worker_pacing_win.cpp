#include "transport/worker_pacing_win.h"

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

void prepareStreamSocket(std::uintptr_t socket) {
  SOCKET s = static_cast<SOCKET>(socket);
  int noDelay = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  DWORD silence = kSilenceLimitMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&silence), sizeof silence);
}

void shutdownAndClose(std::uintptr_t socket) {
  SOCKET s = static_cast<SOCKET>(socket);
  shutdown(s, SD_BOTH);
  closesocket(s);
}

bool sendAll(std::uintptr_t socket, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    int chunk = size > 0x40000000 ? 0x40000000 : int(size);  // send takes an int
    int n = ::send(static_cast<SOCKET>(socket), p, chunk, 0);
    if (n < 1) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

}  // namespace transport
