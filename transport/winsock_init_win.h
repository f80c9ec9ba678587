// Winsock 2.2, started once per process on first use and cleaned up at exit.
#pragma once

namespace transport {

void ensureWinsock();

}  // namespace transport
