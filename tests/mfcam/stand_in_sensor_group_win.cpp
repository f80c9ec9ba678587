// A stand-in mfsensorgroup.dll for Wine, which has none: MFCreateVirtualCamera records its
// arguments and returns a camera object that records every call it gets, one line each, into the
// file BRINDLE_STAND_IN_RECORD names. BRINDLE_STAND_IN_FAIL ("Start 0x80070005") makes one call
// fail. The camera's table of methods is written out slot by slot, from the documented order
// (IUnknown, IMFAttributes' 30, then IMFVirtualCamera's 11), independent of the product's header.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace {

void record(const std::string& line) {
  char path[MAX_PATH] = {};
  if (GetEnvironmentVariableA("BRINDLE_STAND_IN_RECORD", path, MAX_PATH) == 0) return;
  if (FILE* file = std::fopen(path, "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

// What BRINDLE_STAND_IN_FAIL asks `call` to return, S_OK otherwise.
HRESULT resultFor(const char* call) {
  char fail[128] = {}, name[64] = {};
  unsigned long hr = 0;
  if (GetEnvironmentVariableA("BRINDLE_STAND_IN_FAIL", fail, sizeof fail) == 0) return S_OK;
  if (std::sscanf(fail, "%63s %lx", name, &hr) != 2 || std::strcmp(name, call) != 0) return S_OK;
  return static_cast<HRESULT>(hr);
}

std::string utf8(const wchar_t* text) {
  if (text == nullptr) return "null";
  char out[512] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
  return out;
}

constexpr int kSlots = 44;
constexpr int kStart = 36, kStop = 37, kRemove = 38, kShutdown = 43;

struct Camera {
  const void* const* methods;
  LONG references;
};

ULONG STDMETHODCALLTYPE addRef(Camera* self) { return ULONG(InterlockedIncrement(&self->references)); }

ULONG STDMETHODCALLTYPE release(Camera* self) {
  const LONG left = InterlockedDecrement(&self->references);
  if (left == 0) {
    record("released");
    delete self;
  }
  return ULONG(left);
}

HRESULT STDMETHODCALLTYPE start(Camera*, void* callback) {
  record(std::string("slot 36 Start callback=") + (callback == nullptr ? "null" : "set"));
  return resultFor("Start");
}

template <int Slot>
HRESULT STDMETHODCALLTYPE noArguments(Camera*) {
  const char* name = Slot == kStop ? "Stop" : Slot == kRemove ? "Remove" : "Shutdown";
  record("slot " + std::to_string(Slot) + " " + name);
  return resultFor(name);
}

// Every other slot, QueryInterface included: a call the registration has no business making.
// (Its arguments are left where the caller put them, which x64's calling convention allows.)
template <int Slot>
HRESULT STDMETHODCALLTYPE unexpected(Camera*) {
  record("slot " + std::to_string(Slot));
  return E_NOTIMPL;
}

template <int... Slots>
const void* const* makeTable(std::integer_sequence<int, Slots...>) {
  static const void* table[kSlots] = {reinterpret_cast<const void*>(&unexpected<Slots>)...};
  table[1] = reinterpret_cast<const void*>(&addRef);
  table[2] = reinterpret_cast<const void*>(&release);
  table[kStart] = reinterpret_cast<const void*>(&start);
  table[kStop] = reinterpret_cast<const void*>(&noArguments<kStop>);
  table[kRemove] = reinterpret_cast<const void*>(&noArguments<kRemove>);
  table[kShutdown] = reinterpret_cast<const void*>(&noArguments<kShutdown>);
  return table;
}

}  // namespace

// Tells the test that a mfsensorgroup.dll it finds in System32 is this one, left by a run that
// could not remove it.
extern "C" __declspec(dllexport) const char BrindleStandInMarker[] = "brindle stand-in mfsensorgroup";

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE MFCreateVirtualCamera(
    int type, int lifetime, int access, const wchar_t* friendlyName, const wchar_t* sourceId, const GUID* categories,
    ULONG categoryCount, void** virtualCamera) {
  char line[256] = {};
  std::snprintf(line, sizeof line, "MFCreateVirtualCamera type=%d lifetime=%d access=%d name=%s source=%s "
                "categories=%s count=%lu", type, lifetime, access, utf8(friendlyName).c_str(),
                utf8(sourceId).c_str(), categories == nullptr ? "null" : "set", categoryCount);
  record(line);
  if (virtualCamera == nullptr) return E_POINTER;
  *virtualCamera = nullptr;
  const HRESULT hr = resultFor("MFCreateVirtualCamera");
  if (FAILED(hr)) return hr;
  static const void* const* table = makeTable(std::make_integer_sequence<int, kSlots>());
  *virtualCamera = new Camera{table, 1};
  return S_OK;
}
