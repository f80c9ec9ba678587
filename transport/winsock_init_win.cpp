#include "transport/winsock_init_win.h"

#include <winsock2.h>

#include <cstdlib>

namespace transport {

void ensureWinsock() {
  static const bool started = [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);  // result ignored: the next socket call reports any failure
    std::atexit([] { WSACleanup(); });
    return true;
  }();
  (void)started;
}

}  // namespace transport
