#include "transport/worker_pacing_win.h"

#include <winsock2.h>
#include <objbase.h>
#include <windows.h>

#include "transport/winsock_init_win.h"

namespace transport {

namespace {
constexpr std::int64_t kRecentNs = 8'000'000'000;
constexpr int kPauseSteps = 15;

// The 1.5 s pause: up to 15 sleeps of 100 ms, each after a look at `running`.
void pauseBeforeNextAttempt(const std::atomic<bool>& running) {
  for (int i = 0; i < kPauseSteps; ++i) {
    if (!running.load()) return;
    Sleep(100);
  }
}

}  // namespace

State attemptState(bool everConnected, std::int64_t lastActivityNs) {
  return everConnected && steadyNowNs() - lastActivityNs > kRecentNs ? State::Idle : State::Listening;
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

WorkerTransport::WorkerTransport() : wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

bool WorkerTransport::start(TransportSink& sink) {
  if (running_.exchange(true)) return false;
  sink_ = &sink;
  if (wake_) ResetEvent(wake_.get());
  worker_ = std::thread([this] { run(); });
  return true;
}

void WorkerTransport::run() {
  ensureWinsock();
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);

  std::int64_t lastActivity = steadyNowNs();
  bool everConnected = false;
  while (running_.load()) {
    sink_->transportState(attemptState(everConnected, lastActivity));
    if (attempt(lastActivity)) everConnected = true;
    if (!running_.load()) break;
    pauseBeforeNextAttempt(running_);
  }

  sink_->transportState(State::Idle);
  CoUninitialize();
}

}  // namespace transport
