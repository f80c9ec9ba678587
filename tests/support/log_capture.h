// Captures the diagnostic lines the code under test writes, so tests can assert exact texts.
// On Windows it reads OutputDebugStringA itself (a vectored handler sees the debug-print
// exception before anyone else); elsewhere it installs the output hook. One at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();

  std::vector<std::string> lines() const;
  // Lines that begin with `prefix`, in order.
  std::vector<std::string> linesStartingWith(const std::string& prefix) const;
  std::size_t count(const std::string& prefix) const;
  // Waits (bounded) until at least `n` lines begin with `prefix`.
  bool waitForCount(const std::string& prefix, std::size_t n, std::chrono::milliseconds timeout) const;
  void clear();

  void add(const char* line);
  // Adds `line` to the capture that is on, if any: what the platform hook calls.
  static void addToActive(const char* line);

 private:
  // The platform's hook (log_capture_win.cpp, log_capture_posix.cpp): on, and off again.
  static void* installHook();
  static void removeHook(void* handle);

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  void* handle_ = nullptr;
};

}  // namespace testsupport
