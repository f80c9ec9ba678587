#include "support/log_capture.h"

#include <atomic>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include "common/debug_output_hook.h"
#endif

namespace testsupport {

namespace {

std::atomic<LogCapture*> g_active{nullptr};

#ifdef _WIN32
LONG CALLBACK onException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
  if (LogCapture* capture = g_active.load()) {
    capture->add(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}
#else
void onLine(const char* line, void*) {
  if (LogCapture* capture = g_active.load()) capture->add(line);
}
#endif

}  // namespace

LogCapture::LogCapture() {
  g_active.store(this);
#ifdef _WIN32
  handle_ = AddVectoredExceptionHandler(1, onException);
#else
  debuglog::setOutputHook(onLine, nullptr);
#endif
}

LogCapture::~LogCapture() {
#ifdef _WIN32
  RemoveVectoredExceptionHandler(handle_);
#else
  debuglog::setOutputHook(nullptr, nullptr);
#endif
  g_active.store(nullptr);
}

void LogCapture::add(const char* line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.emplace_back(line);
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> LogCapture::linesStartingWith(const std::string& prefix) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const std::string& line : lines_) {
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  }
  return out;
}

std::size_t LogCapture::count(const std::string& prefix) const { return linesStartingWith(prefix).size(); }

bool LogCapture::waitForCount(const std::string& prefix, std::size_t n, std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (count(prefix) < n) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace testsupport
