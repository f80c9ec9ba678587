// COM on the calling thread for the life of a scope. Only a successful initialisation is undone:
// a thread already in another apartment keeps its COM as it was.
#pragma once

#include <objbase.h>

struct ComScope {
  explicit ComScope(DWORD apartment = COINIT_APARTMENTTHREADED) : hr(CoInitializeEx(nullptr, apartment)) {}
  ~ComScope() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  HRESULT hr;
};
