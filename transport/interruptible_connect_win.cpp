#include "transport/interruptible_connect_win.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>

namespace transport {

namespace {

// One lookup, shared by the waiting worker and the thread that runs it: whichever is last
// frees it, so a worker that was woken can leave the lookup behind.
struct Lookup {
  std::string host;
  char service[8] = {};
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool found = false;
  sockaddr_in address{};

  ~Lookup() {
    if (done) CloseHandle(done);
  }
  void run() {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), service, &hints, &result) == 0 && result != nullptr &&
        result->ai_addrlen >= sizeof(sockaddr_in)) {
      address = *reinterpret_cast<const sockaddr_in*>(result->ai_addr);
      found = true;
    }
    if (result) freeaddrinfo(result);
    SetEvent(done);
  }
};

// How a non-blocking connect ended once the wait for it did: 0, or a Winsock error (a wait
// that timed out, or an event without the connect's, is WSAETIMEDOUT).
int connectError(SOCKET s, WSAEVENT ready, bool signalled) {
  WSANETWORKEVENTS events{};
  if (signalled && WSAEnumNetworkEvents(s, ready, &events) != 0) return WSAGetLastError();
  if (!signalled || (events.lNetworkEvents & FD_CONNECT) == 0) return WSAETIMEDOUT;
  return events.iErrorCode[FD_CONNECT_BIT];
}

}  // namespace

Wait resolveIpv4(const std::string& host, std::uint16_t port, HANDLE wake, sockaddr_in& address) {
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1) return Wait::Done;

  auto lookup = std::make_shared<Lookup>();
  if (lookup->done == nullptr) return Wait::Failed;
  lookup->host = host;
  std::snprintf(lookup->service, sizeof lookup->service, "%u", unsigned(port));
  try {
    std::thread([lookup] { lookup->run(); }).detach();
  } catch (const std::system_error&) {
    return Wait::Failed;
  }
  HANDLE waits[2] = {lookup->done, wake};
  const DWORD woke = WaitForMultipleObjects(wake ? 2 : 1, waits, FALSE, kLookupTimeoutMs);
  if (woke == WAIT_OBJECT_0 + 1) return Wait::Woken;
  if (woke != WAIT_OBJECT_0 || !lookup->found) return Wait::Failed;
  address = lookup->address;
  return Wait::Done;
}

Wait connectOrWake(SOCKET s, const sockaddr_in& address, HANDLE wake, int& error) {
  error = 0;
  WSAEVENT ready = WSACreateEvent();
  if (ready == WSA_INVALID_EVENT) {
    error = WSAGetLastError();
    return Wait::Failed;
  }
  Wait outcome = Wait::Done;
  // Selecting an event makes the socket non-blocking: connect returns at once.
  if (WSAEventSelect(s, ready, FD_CONNECT) != 0) {
    error = WSAGetLastError();
    outcome = Wait::Failed;
  } else if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      error = 0;
      HANDLE waits[2] = {ready, wake};
      const DWORD woke = WaitForMultipleObjects(wake ? 2 : 1, waits, FALSE, kConnectTimeoutMs);
      if (woke == WAIT_OBJECT_0 + 1) {
        outcome = Wait::Woken;
      } else {
        error = connectError(s, ready, woke == WAIT_OBJECT_0);
        if (error != 0) outcome = Wait::Failed;
      }
    } else {
      outcome = Wait::Failed;
    }
  }
  // Blocking again, for the receive loop.
  WSAEventSelect(s, nullptr, 0);
  u_long nonBlocking = 0;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  WSACloseEvent(ready);
  return outcome;
}

}  // namespace transport
