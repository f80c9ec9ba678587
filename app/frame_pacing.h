// When the next frame of the UI loop is due. Present with a sync interval waits for the vertical
// blank where there is one; where there is none (remote sessions, some virtual machines, Xvfb) it
// returns at once, and a loop paced by it alone would spin. This keeps such a loop to the
// display's refresh rate without fighting a Present that does wait; and a frame that would show
// nothing new is not drawn.
#pragma once

#include <cstdint>

namespace app {

class FramePacing {
 public:
  // Used when the display does not say: Windows reports 0 or 1 for its hardware default.
  static constexpr std::uint32_t kDefaultRefreshHz = 60;

  void setRefreshRate(std::uint32_t hz);
  std::int64_t periodNs() const { return periodNs_; }

  // After a frame was presented at `nowNs` (steady clock): when the next frame may start. A
  // frame that took most of a period already (Present waited, or the frame was slow) goes on at
  // once; a quicker one waits for the end of the period that began with the previous frame.
  std::int64_t nextFrameAt(std::int64_t nowNs);

 private:
  std::int64_t periodNs_ = 1000000000 / kDefaultRefreshHz;
  std::int64_t lastFrameNs_ = 0;  // 0: no frame yet
};

// Whether a frame is worth drawing at all. A window that has not changed need not be drawn
// again, and drawing is not free: on a software renderer 60 frames a second take more than a
// core from decoding. So the loop draws at the refresh rate while the user works with the window
// (and for a second after each message, for hover delays and popups that settle over frames),
// as soon as a new picture waits, and otherwise a few times a second, which keeps figures and
// states current.
class FrameDemand {
 public:
  static constexpr std::int64_t kActiveNs = 1000000000;
  static constexpr std::int64_t kIdlePeriodNs = 250000000;

  void messagesArrived(std::int64_t nowNs) { activeUntilNs_ = nowNs + kActiveNs; }
  bool due(std::int64_t nowNs, bool pictureWaiting) const {
    return pictureWaiting || !drawn_ || nowNs < activeUntilNs_ || nowNs - lastDrawNs_ >= kIdlePeriodNs;
  }
  void drew(std::int64_t nowNs) {
    drawn_ = true;
    lastDrawNs_ = nowNs;
  }

 private:
  bool drawn_ = false;
  std::int64_t lastDrawNs_ = 0;
  std::int64_t activeUntilNs_ = 0;
};

}  // namespace app
