// Bounded polling for tests: every wait ends by its deadline.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

template <class Predicate>
bool waitUntil(Predicate predicate, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace testsupport
