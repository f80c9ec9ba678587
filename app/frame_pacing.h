// When the next frame of the UI loop is due. Present with a sync interval waits for the vertical
// blank where there is one; where there is none (remote sessions, some virtual machines, Xvfb) it
// returns at once, and a loop paced by it alone would spin. This keeps such a loop to the
// display's refresh rate without fighting a Present that does wait.
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

}  // namespace app
