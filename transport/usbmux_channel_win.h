// A connection to the Apple Mobile Device Service, over TCP 127.0.0.1:27015 or its named pipe,
// and the packet exchange on it. Windows only.
//
// Pipes are opened for overlapped I/O: every pipe read and write also waits on a `wake` event
// and gives up (cancelling the I/O) once it is signalled, so a stop never waits on a silent
// service. Sockets are woken by closing them from the other thread; the connect to the service
// waits on `wake` too.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace transport {

struct MuxChannel {
  SOCKET socket = INVALID_SOCKET;
  HANDLE pipe = INVALID_HANDLE_VALUE;

  bool isOpen() const { return socket != INVALID_SOCKET || pipe != INVALID_HANDLE_VALUE; }
};

extern const wchar_t kMuxPipeName[];  // \\.\pipe\iTunes_USBMuxService

// TCP first, then the pipe; no channel when neither answers, or when `wake` cut the TCP
// connect short. Logs how it went.
MuxChannel openMux(HANDLE wake);
// Shuts a socket down both ways before closing it; leaves the channel empty.
void closeMux(MuxChannel& channel);

// One overlapped ReadFile or WriteFile on `pipe`, waited for, or cancelled when `wake` is
// signalled or `timeoutMs` has passed (then false, unless bytes had moved). `wake` may be null.
// `moved` gets the bytes transferred; after a failure GetLastError says why (ERROR_BROKEN_PIPE:
// the peer closed; ERROR_TIMEOUT: nothing moved in time).
bool pipeRead(HANDLE pipe, void* data, DWORD size, DWORD& moved, HANDLE wake, DWORD timeoutMs = INFINITE);
bool pipeWrite(HANDLE pipe, const void* data, DWORD size, DWORD& moved, HANDLE wake);

// Loop until every byte moved; a call that fails or moves nothing gives false. Length 0 is true.
bool writeAll(const MuxChannel& channel, const void* data, std::size_t size, HANDLE wake);
bool readExact(const MuxChannel& channel, void* data, std::size_t size, HANDLE wake);

// The 16-byte header and the text, each written whole.
bool sendPlist(const MuxChannel& channel, const std::string& xml, std::uint32_t tag, HANDLE wake);
// One reply payload; empty on a broken read or a total length outside 16..16 MiB.
std::string readPlist(const MuxChannel& channel, HANDLE wake);

}  // namespace transport
