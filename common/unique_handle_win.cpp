#include "common/unique_handle.h"

#include <windows.h>

namespace common {

void UniqueHandle::reset(void* handle) {
  void* old = std::exchange(handle_, handle);
  if (old != nullptr && old != handle) CloseHandle(old);
}

}  // namespace common
