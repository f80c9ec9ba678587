#include "transport/usbmux_channel_win.h"

#include <ws2tcpip.h>

#include <span>

#include "common/debug_log.h"
#include "transport/interruptible_connect_win.h"
#include "transport/usbmux_protocol.h"
#include "transport/worker_pacing_win.h"

namespace transport {

const wchar_t kMuxPipeName[] = L"\\\\.\\pipe\\iTunes_USBMuxService";

namespace {

bool pipeTransfer(HANDLE pipe, bool write, void* data, DWORD size, DWORD& moved, HANDLE wake, DWORD timeoutMs) {
  moved = 0;
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ov.hEvent == nullptr) return false;
  BOOL ok = write ? WriteFile(pipe, data, size, nullptr, &ov) : ReadFile(pipe, data, size, nullptr, &ov);
  if (ok || GetLastError() == ERROR_IO_PENDING) {
    HANDLE waits[2] = {ov.hEvent, wake};
    DWORD woke = WaitForMultipleObjects(wake ? 2 : 1, waits, FALSE, timeoutMs);
    if (woke != WAIT_OBJECT_0) CancelIoEx(pipe, &ov);
    // Waits for the cancel too: the buffer and the OVERLAPPED must outlive the I/O.
    ok = GetOverlappedResult(pipe, &ov, &moved, TRUE);
    if (woke != WAIT_OBJECT_0 && moved == 0) {
      ok = FALSE;
      SetLastError(woke == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_OPERATION_ABORTED);
    }
  }
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  CloseHandle(ov.hEvent);
  SetLastError(error);  // a reader tells a closed peer (ERROR_BROKEN_PIPE) from a failure by it
  return ok != FALSE;
}

}  // namespace

bool pipeRead(HANDLE pipe, void* data, DWORD size, DWORD& moved, HANDLE wake, DWORD timeoutMs) {
  return pipeTransfer(pipe, false, data, size, moved, wake, timeoutMs);
}

bool pipeWrite(HANDLE pipe, const void* data, DWORD size, DWORD& moved, HANDLE wake) {
  return pipeTransfer(pipe, true, const_cast<void*>(data), size, moved, wake, INFINITE);
}

MuxChannel openMux(HANDLE wake) {
  MuxChannel channel;
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s != INVALID_SOCKET) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kMuxTcpPort);
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    int error = 0;
    const Wait connected = connectOrWake(s, addr, wake, error);
    if (connected == Wait::Done) {
      logUsbMuxLine("[UsbMux] connected via TCP 127.0.0.1:%u\n", unsigned(kMuxTcpPort));
      channel.socket = s;
      return channel;
    }
    closesocket(s);
    if (connected == Wait::Woken) return channel;
    logUsbMuxLine("[UsbMux] TCP 27015 connect failed WSA=%d\n", error);
  }

  HANDLE pipe = CreateFileW(kMuxPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    logUsbMuxLine("[UsbMux] named pipe open failed err=%lu\n", GetLastError());
    return channel;
  }
  logUsbMuxLine("[UsbMux] connected via named pipe iTunes_USBMuxService\n");
  channel.pipe = pipe;
  return channel;
}

void closeMux(MuxChannel& channel) {
  if (channel.socket != INVALID_SOCKET) {
    shutdown(channel.socket, SD_BOTH);
    closesocket(channel.socket);
  }
  if (channel.pipe != INVALID_HANDLE_VALUE) CloseHandle(channel.pipe);
  channel = MuxChannel{};
}

bool writeAll(const MuxChannel& channel, const void* data, std::size_t size, HANDLE wake) {
  if (channel.socket != INVALID_SOCKET) return sendAll(channel.socket, data, size);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD written = 0;
    DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
    if (!pipeWrite(channel.pipe, p, chunk, written, wake) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

bool readExact(const MuxChannel& channel, void* data, std::size_t size, HANDLE wake) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    int chunk = size > 0x40000000 ? 0x40000000 : int(size);
    long moved = 0;
    if (channel.socket != INVALID_SOCKET) {
      moved = recv(channel.socket, p, chunk, 0);
    } else {
      DWORD got = 0;
      if (!pipeRead(channel.pipe, p, DWORD(chunk), got, wake)) return false;
      moved = long(got);
    }
    if (moved < 1) return false;
    p += moved;
    size -= std::size_t(moved);
  }
  return true;
}

bool sendPlist(const MuxChannel& channel, const std::string& xml, std::uint32_t tag, HANDLE wake) {
  std::array<std::uint8_t, kMuxHeaderSize> header = packMuxHeader(std::uint32_t(xml.size()), tag);
  return writeAll(channel, header.data(), header.size(), wake) && writeAll(channel, xml.data(), xml.size(), wake);
}

std::string readPlist(const MuxChannel& channel, HANDLE wake) {
  std::array<std::uint8_t, kMuxHeaderSize> header{};
  if (!readExact(channel, header.data(), header.size(), wake)) return {};
  std::optional<std::uint32_t> length = muxPayloadLength(header);
  if (!length) return {};
  std::string payload(*length, '\0');
  if (!readExact(channel, payload.data(), payload.size(), wake)) return {};
  return payload;
}

}  // namespace transport
