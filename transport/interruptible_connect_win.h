// The two steps of a connection attempt that may hang (a name lookup against a silent name
// server, a TCP connect to an address that does not answer), waited for with a time-out and
// cut short by a wake event that the transport's stop sets. Windows only (Winsock).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

namespace transport {

// How long each step may take before the attempt counts as failed.
constexpr DWORD kLookupTimeoutMs = 5000;
constexpr DWORD kConnectTimeoutMs = 5000;

enum class Wait { Done, Failed, Woken };

// The first IPv4 address of `host` (dotted text needs no lookup), with `port`. A real lookup
// runs on a thread of its own, which is left to finish by itself when `wake` ends the wait.
Wait resolveIpv4(const std::string& host, std::uint16_t port, HANDLE wake, sockaddr_in& address);

// Connects `s` without blocking past `wake` or kConnectTimeoutMs, then makes it blocking again.
// On Failed, `error` holds the Winsock error (WSAETIMEDOUT after the time-out).
Wait connectOrWake(SOCKET s, const sockaddr_in& address, HANDLE wake, int& error);

}  // namespace transport
