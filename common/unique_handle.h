// A kernel object handle (an event, a waitable timer, a pipe instance) with one owner, closed
// when the owner goes. Null is empty: callers turn INVALID_HANDLE_VALUE into null first. Holds
// the handle as void*, which HANDLE is, so headers that must not see <windows.h> can keep one.
// The closing is Windows only.
#pragma once

#include <utility>

namespace common {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(void* handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  void* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Hands the handle over without closing it.
  void* release() { return std::exchange(handle_, nullptr); }
  // Closes the handle held, if any, and takes `handle`.
  void reset(void* handle = nullptr);

 private:
  void* handle_ = nullptr;
};

}  // namespace common
