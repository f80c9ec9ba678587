// What keeps this DLL loaded: its live COM objects and the class factory's LockServer calls.
// DllCanUnloadNow answers S_OK only when both are zero.
#pragma once

#include <atomic>

namespace mfcam {

inline std::atomic<long> moduleReferences{0};

// A member of every COM object the DLL hands out.
struct ModuleReference {
  ModuleReference() { ++moduleReferences; }
  ~ModuleReference() { --moduleReferences; }
  ModuleReference(const ModuleReference&) = delete;
  ModuleReference& operator=(const ModuleReference&) = delete;
};

}  // namespace mfcam
