#include "transport/usbmux_transport_win.h"

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/debug_log.h"
#include "transport/usbmux_channel_win.h"
#include "transport/usbmux_protocol.h"
#include "transport/worker_pacing_win.h"

namespace transport {

namespace {
void logSilence() {
  logUsbMuxLine("[UsbMux] nothing received for %u ms — tunnel dead, will reconnect\n", kSilenceLimitMs);
}
}  // namespace

UsbMuxTransport::UsbMuxTransport(std::uint16_t port) : port_(port) {}

void UsbMuxTransport::stop() {
  stopWorker([this] {
    SOCKET s = static_cast<SOCKET>(socket_.exchange(0));
    if (s != 0) shutdownAndClose(s);  // wakes a recv the worker is blocked in
    SOCKET h = static_cast<SOCKET>(handshakeSocket_.exchange(0));
    if (h != 0) shutdownAndClose(h);  // a service that never answers must not hold stop
    // The pipe is not closed here: the worker has overlapped I/O on it, which the event cancels;
    // the worker then closes it. Emptying the slot makes send refuse it from now on.
    pipe_.exchange(nullptr);
    if (wake_) SetEvent(wake_.get());
  });
}

bool UsbMuxTransport::send(std::span<const std::uint8_t> bytes) {
  std::uintptr_t s = socket_.load();
  if (s != 0) return sendAll(s, bytes.data(), bytes.size());
  MuxChannel tunnel;
  tunnel.pipe = static_cast<HANDLE>(pipe_.load());
  return tunnel.pipe != nullptr && writeAll(tunnel, bytes.data(), bytes.size(), wake_.get());
}

// Puts a service socket where stop can reach it; false when stop has already run (the channel
// is then closed here). Pipes need no slot: the wake event ends their I/O.
bool UsbMuxTransport::lendToStop(const MuxChannel& channel) {
  if (channel.socket != INVALID_SOCKET) handshakeSocket_.store(static_cast<std::uintptr_t>(channel.socket));
  if (running_.load()) return true;
  MuxChannel copy = channel;
  closeHandshake(copy);
  return false;
}

// Closes a handshake channel unless stop took its socket out of the slot and closed it.
void UsbMuxTransport::closeHandshake(MuxChannel& channel) {
  if (channel.socket != INVALID_SOCKET) {
    std::uintptr_t expected = static_cast<std::uintptr_t>(channel.socket);
    if (!handshakeSocket_.compare_exchange_strong(expected, 0)) channel.socket = INVALID_SOCKET;
  }
  closeMux(channel);
}

MuxChannel UsbMuxTransport::openTunnel(std::uint16_t port) {
  MuxChannel ch = openMux(wake_.get());
  if (!ch.isOpen()) {
    if (!running_.load()) return {};  // stop cut the connect short
    logUsbMuxLine(
        "[UsbMux] could NOT reach Apple Mobile Device Service (neither TCP 27015 nor named pipe). Is iTunes / "
        "\"Apple Mobile Device Support\" installed and running?\n");
    return {};
  }
  if (!lendToStop(ch)) return {};
  if (!sendPlist(ch, listDevicesRequest(), kMuxTagListDevices, wake_.get())) {
    logUsbMuxLine("[UsbMux] sendPlist(ListDevices) failed\n");
    closeHandshake(ch);
    return {};
  }
  std::string reply = readPlist(ch, wake_.get());
  closeHandshake(ch);
  if (reply.empty()) {
    logUsbMuxLine("[UsbMux] empty response to ListDevices\n");
    return {};
  }
  std::vector<std::uint32_t> ids = parseDeviceIds(reply);
  // %llu rather than %zu: MinGW checks formats against the older runtime, which lacks z.
  logUsbMuxLine("[UsbMux] ListDevices → %llu device(s)  (resp %llu bytes)\n",
                static_cast<unsigned long long>(ids.size()), static_cast<unsigned long long>(reply.size()));
  if (ids.empty()) {
    logUsbMuxLine("[UsbMux] response head: %.200s\n", reply.c_str());
    return {};
  }

  MuxChannel ch2 = openMux(wake_.get());
  if (!ch2.isOpen()) return {};
  if (!lendToStop(ch2)) return {};
  if (!sendPlist(ch2, connectRequest(ids[0], port), kMuxTagConnect, wake_.get())) {
    closeHandshake(ch2);
    return {};
  }
  std::string answer = readPlist(ch2, wake_.get());
  std::optional<std::int32_t> number = plistInteger(answer, "Number");
  if (number && *number == 0) {
    std::uintptr_t expected = static_cast<std::uintptr_t>(ch2.socket);
    if (ch2.socket != INVALID_SOCKET && !handshakeSocket_.compare_exchange_strong(expected, 0)) {
      return {};  // stop closed it while the answer arrived
    }
    logUsbMuxLine("[UsbMux] tunnel open to device %u port %u\n", unsigned(ids[0]), unsigned(port));
    return ch2;
  }
  logUsbMuxLine("[UsbMux] Connect rejected, Number=%d  resp head: %.200s\n", number ? int(*number) : -1,
                answer.c_str());
  closeHandshake(ch2);
  return {};
}

void UsbMuxTransport::runSocketTunnel(std::uintptr_t handle, std::int64_t& lastActivity) {
  SOCKET s = static_cast<SOCKET>(handle);
  prepareStreamSocket(handle);
  socket_.store(handle);
  sink_->transportState(State::Connected);
  lastActivity = steadyNowNs();

  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  while (running_.load()) {
    int n = recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
    if (n < 1) {
      const int error = WSAGetLastError();
      if (n < 0 && error == WSAETIMEDOUT) {
        logSilence();
      } else {
        logUsbMuxLine("[UsbMux] recv ended n=%d WSA=%d — will reconnect\n", n, error);
      }
      break;
    }
    lastActivity = steadyNowNs();
    sink_->received(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
  }
  // Whoever takes the socket out of socket_ closes it: stop may have done so already.
  std::uintptr_t expected = handle;
  if (socket_.compare_exchange_strong(expected, 0)) shutdownAndClose(s);
}

void UsbMuxTransport::runPipeTunnel(void* handle, std::int64_t& lastActivity) {
  HANDLE pipe = static_cast<HANDLE>(handle);
  pipe_.store(handle);
  sink_->transportState(State::Connected);
  lastActivity = steadyNowNs();

  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  while (running_.load()) {
    DWORD got = 0;
    BOOL ok = pipeRead(pipe, buffer.data(), DWORD(buffer.size()), got, wake_.get(), kSilenceLimitMs) ? TRUE : FALSE;
    if (!ok && GetLastError() == ERROR_TIMEOUT) {
      logSilence();
      break;
    }
    if (!ok || got == 0) {
      logUsbMuxLine("[UsbMux] pipe read ended ok=%d got=%lu — will reconnect\n", int(ok), got);
      break;
    }
    lastActivity = steadyNowNs();
    sink_->received(std::span<const std::uint8_t>(buffer.data(), got));
  }
  void* expected = handle;
  pipe_.compare_exchange_strong(expected, nullptr);
  CloseHandle(pipe);  // always the worker's: its I/O has ended
}

bool UsbMuxTransport::attempt(std::int64_t& lastActivity) {
  MuxChannel tunnel = openTunnel(port_);
  if (tunnel.socket != INVALID_SOCKET) {
    runSocketTunnel(static_cast<std::uintptr_t>(tunnel.socket), lastActivity);
    return true;
  }
  if (tunnel.pipe != INVALID_HANDLE_VALUE) {
    runPipeTunnel(tunnel.pipe, lastActivity);
    return true;
  }
  return false;
}

}  // namespace transport
