// One control program per session: two would publish into the one frame ring, and the camera
// would show their pictures interleaved. The first copy holds a named mutex in the session's
// namespace; a later one finds it taken, brings the running window to the front and ends.
// Windows only.
#pragma once

#include <windows.h>

namespace app {

inline constexpr wchar_t kInstanceMutexName[] = L"Local\\brindlevideo-control";

class SingleInstance {
 public:
  explicit SingleInstance(const wchar_t* name = kInstanceMutexName);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False when another process of this session holds the name. A mutex that cannot be made for
  // another reason does not stop the program.
  bool first() const { return first_; }

 private:
  HANDLE mutex_ = nullptr;
  bool first_ = true;
};

// Restores the running copy's window if it is minimised and brings it to the front. The other
// copy may still be starting, so its window is waited for, at most `waitMs`; false when none came.
bool bringRunningWindowToFront(DWORD waitMs);

}  // namespace app
