#include "vcam/sample_pacer_win.h"

#include <algorithm>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace vcam {

namespace {

// A wait is never longer than this; then the worker looks at the time again.
constexpr DWORD kLongestWaitMs = 500;

// The steady clock in 100-ns units.
REFERENCE_TIME steadyNow() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return count.QuadPart / frequency * 10'000'000 + count.QuadPart % frequency * 10'000'000 / frequency;
}

DWORD millisecondsUntil(REFERENCE_TIME delay) {
  if (delay <= 0) return 0;
  return DWORD(std::min<REFERENCE_TIME>((delay + 9'999) / 10'000, kLongestWaitMs));
}

}  // namespace

SamplePacer::SamplePacer() {
  // High resolution where the system has it (Windows 10 1803 on), else the ordinary timer.
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  if (!timer_) timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

SamplePacer::~SamplePacer() {
  reset();
  if (timer_) CloseHandle(timer_);
}

void SamplePacer::run(IReferenceClock* clock, REFERENCE_TIME start) {
  {
    dshow::CAutoLock lock(&lock_);
    clock_ = clock;
    start_ = start;
    steadyBase_ = steadyNow() - pausedAt_;
    running_ = true;
  }
  changed_.Set();
}

void SamplePacer::pause() {
  {
    dshow::CAutoLock lock(&lock_);
    if (running_ && !clock_) pausedAt_ = steadyNow() - steadyBase_;
    running_ = false;
  }
  changed_.Set();
}

void SamplePacer::reset() {
  {
    dshow::CAutoLock lock(&lock_);
    clock_.Reset();
    running_ = false;
    pausedAt_ = 0;
  }
  changed_.Set();
}

Microsoft::WRL::ComPtr<IReferenceClock> SamplePacer::takeClock(REFERENCE_TIME* start) {
  dshow::CAutoLock lock(&lock_);
  *start = start_;
  return clock_;
}

bool SamplePacer::streamTime(REFERENCE_TIME* now) {
  REFERENCE_TIME start = 0, steadyBase = 0;
  Microsoft::WRL::ComPtr<IReferenceClock> clock;  // used outside the lock
  {
    dshow::CAutoLock lock(&lock_);
    if (!running_) return false;
    steadyBase = steadyBase_;
    clock = clock_;
    start = start_;
  }
  REFERENCE_TIME time = 0;
  HRESULT hr = clock ? clock->GetTime(&time) : E_FAIL;
  clock.Reset();
  // Without a clock, or with one that cannot tell the time, the steady clock goes on.
  *now = SUCCEEDED(hr) ? time - start : steadyNow() - steadyBase;
  return true;
}

SamplePacer::Woken SamplePacer::wait(REFERENCE_TIME due, HANDLE interrupt) {
  HANDLE handles[3] = {interrupt, changed_.Handle(), nullptr};
  DWORD count = 2;
  DWORD timeoutMs = kLongestWaitMs;
  REFERENCE_TIME now = 0;
  Microsoft::WRL::ComPtr<IReferenceClock> clock;
  DWORD_PTR cookie = 0;
  if (streamTime(&now)) {
    REFERENCE_TIME start = 0;
    clock = takeClock(&start);
    timeoutMs = millisecondsUntil(due - now);
    if (clock) {
      // The clock wakes us itself, whatever its rate against the steady clock; the time-out
      // only backs it up.
      advised_.Reset();
      if (SUCCEEDED(clock->AdviseTime(start, due, reinterpret_cast<HEVENT>(advised_.Handle()), &cookie))) {
        handles[count++] = advised_.Handle();
        timeoutMs = std::min<DWORD>(timeoutMs + 20, kLongestWaitMs);
      } else {
        cookie = 0;
      }
    } else if (timer_ && timeoutMs > 0) {
      LARGE_INTEGER relative;
      relative.QuadPart = -(due - now);
      if (SetWaitableTimer(timer_, &relative, 0, nullptr, nullptr, FALSE)) {
        handles[count++] = timer_;
        timeoutMs = std::min<DWORD>(timeoutMs + 20, kLongestWaitMs);
      }
    }
  }
  DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  if (clock && cookie) clock->Unadvise(cookie);
  clock.Reset();
  if (result == WAIT_OBJECT_0) return Woken::Interrupted;
  if (result == WAIT_OBJECT_0 + 1) return Woken::StateChanged;
  return Woken::Due;
}

}  // namespace vcam
