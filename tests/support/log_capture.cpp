#include "support/log_capture.h"

#include <atomic>
#include <thread>

namespace testsupport {

namespace {
std::atomic<LogCapture*> g_active{nullptr};
}  // namespace

LogCapture::LogCapture() {
  g_active.store(this);
  handle_ = installHook();
}

LogCapture::~LogCapture() {
  removeHook(handle_);
  g_active.store(nullptr);
}

void LogCapture::addToActive(const char* line) {
  if (LogCapture* capture = g_active.load()) capture->add(line);
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
