// Real-time pacing for a live source's worker thread. Knows the stream time of the current run:
// the graph's reference clock minus the start time given to Run, or, in a graph without a clock,
// the steady clock's time since Run. Waits for a sample's due time on the reference clock
// (AdviseTime) or on a waitable timer; a change of the filter's state (Run, Pause) or a signalled
// interrupt handle (a command for the worker) cuts any wait short.
#pragma once

#include "dshow/am_event_win.h"
#include "dshow/critical_section_win.h"
#include "dshow/dshow_common_win.h"

namespace vcam {

class SamplePacer {
 public:
  SamplePacer();
  ~SamplePacer();

  // Filter side, on the threads that change the filter's state.
  // The filter runs: `clock` (null: none) and `start` as given to Run. Without a clock, stream
  // time goes on from where the last pause left it (0 after reset).
  void run(IReferenceClock* clock, REFERENCE_TIME start);
  // The filter paused while running: no stream time until the next run.
  void pause();
  // The filter stopped: forgets the run and the clock.
  void reset();

  // Worker side.
  // The stream time now; false while the filter is not running.
  bool streamTime(REFERENCE_TIME* now);
  enum class Woken { Due, StateChanged, Interrupted };
  // Waits until the stream time reaches `due` (while not running: until the state changes).
  // Returns early when the state changes or `interrupt` is signalled. Every wait is bounded;
  // Due may also mean "look again".
  Woken wait(REFERENCE_TIME due, HANDLE interrupt);

 private:
  Microsoft::WRL::ComPtr<IReferenceClock> takeClock(REFERENCE_TIME* start);

  dshow::CCritSec lock_;  // the fields below; never held while waiting
  bool running_ = false;
  Microsoft::WRL::ComPtr<IReferenceClock> clock_;
  REFERENCE_TIME start_ = 0;       // with a clock: Run's start time
  REFERENCE_TIME steadyBase_ = 0;  // without: steady time at stream time 0
  REFERENCE_TIME pausedAt_ = 0;    // without: stream time when the filter last paused

  dshow::CAMEvent changed_{false};
  dshow::CAMEvent advised_{false};
  HANDLE timer_ = nullptr;
};

}  // namespace vcam
