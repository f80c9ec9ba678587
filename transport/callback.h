// A callback member that its owner may replace while a worker thread is about to call it.
// Replacing swaps in a new target atomically; a call already in flight finishes with the
// target it started with (kept alive until it returns). No lock is held during the call.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>

namespace transport {

template <class Signature>
class Callback;

template <class... Args>
class Callback<void(Args...)> {
 public:
  using Function = std::function<void(Args...)>;

  Callback() = default;
  Callback(const Callback&) = delete;
  Callback& operator=(const Callback&) = delete;

  Callback& operator=(Function function) {
    std::shared_ptr<const Function> next;
    if (function) next = std::make_shared<const Function>(std::move(function));
    target_.store(std::move(next));
    return *this;
  }
  Callback& operator=(std::nullptr_t) {
    target_.store(nullptr);
    return *this;
  }

  // Calls the current target, if any.
  void operator()(Args... args) const {
    std::shared_ptr<const Function> target = target_.load();
    if (target) (*target)(std::forward<Args>(args)...);
  }

  explicit operator bool() const { return target_.load() != nullptr; }

 private:
  std::atomic<std::shared_ptr<const Function>> target_;
};

}  // namespace transport
