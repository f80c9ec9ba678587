// The platform's DNS-SD functions, reached through a table of pointers. They exist only from
// Windows 10 version 1903 on (Wine has none), so the program looks them up at run time and still
// starts without them; tests hand in a table of their own.
#pragma once

#include <windows.h>
#include <windns.h>

namespace transport {

// DNS_REQUEST_PENDING of the Windows SDK's winerror.h, which MinGW-w64's lacks: a query started.
constexpr DNS_STATUS kDnsRequestPending = 9506;

struct DnsSdFunctions {
  DNS_STATUS(WINAPI* browse)(PDNS_SERVICE_BROWSE_REQUEST request, PDNS_SERVICE_CANCEL cancel) = nullptr;
  DNS_STATUS(WINAPI* browseCancel)(PDNS_SERVICE_CANCEL cancel) = nullptr;
  DNS_STATUS(WINAPI* resolve)(PDNS_SERVICE_RESOLVE_REQUEST request, PDNS_SERVICE_CANCEL cancel) = nullptr;
  DNS_STATUS(WINAPI* resolveCancel)(PDNS_SERVICE_CANCEL cancel) = nullptr;
  VOID(WINAPI* freeInstance)(PDNS_SERVICE_INSTANCE instance) = nullptr;
  VOID(WINAPI* dnsFree)(PVOID data, DNS_FREE_TYPE type) = nullptr;  // DnsFree; record lists from browse callbacks
};

// dnsapi.dll's own functions, looked up once from the system folder; a missing one stays null.
const DnsSdFunctions& systemDnsSdFunctions();

}  // namespace transport
