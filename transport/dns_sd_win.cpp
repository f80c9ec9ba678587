#include "transport/dns_sd_win.h"

namespace transport {

namespace {

template <class Function>
void lookUp(HMODULE module, const char* name, Function& out) {
  out = nullptr;
  if (module) out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

DnsSdFunctions load() {
  DnsSdFunctions functions;
  // Only the system's copy, never one planted beside the program. Kept loaded for the process.
  HMODULE module = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  lookUp(module, "DnsServiceBrowse", functions.browse);
  lookUp(module, "DnsServiceBrowseCancel", functions.browseCancel);
  lookUp(module, "DnsServiceResolve", functions.resolve);
  lookUp(module, "DnsServiceResolveCancel", functions.resolveCancel);
  lookUp(module, "DnsServiceFreeInstance", functions.freeInstance);
  lookUp(module, "DnsFree", functions.dnsFree);
  return functions;
}

}  // namespace

const DnsSdFunctions& systemDnsSdFunctions() {
  static const DnsSdFunctions functions = load();
  return functions;
}

}  // namespace transport
