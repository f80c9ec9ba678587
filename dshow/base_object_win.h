// Every framework object counts itself in one module-wide live-object counter, so the DLL
// can tell when it may be unloaded.
#pragma once

#include <atomic>

namespace dshow {

class CBaseObject {
 public:
  explicit CBaseObject(const wchar_t* objectName);
  ~CBaseObject();
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;

  // Framework objects alive in this module right now.
  static long ObjectsActive();

 private:
  static std::atomic<long> objectCount_;
};

}  // namespace dshow
