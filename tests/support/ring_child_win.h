// The one child program of the tests that share a frame ring between processes (ring_child_win.cpp):
//   ring_child write NAME SLOTS MAXW MAXH SEED COUNT WIDTH HEIGHT INTERVAL_MS
//     Creates the ring and publishes test pictures (test_picture.h) 1, 2, ... COUNT (0: until
//     stopped), one every INTERVAL_MS, then keeps the ring open until stopped. Exit 0 when
//     stopped, 2 if the ring did not open or a picture was refused.
//   ring_child read NAME SEED WIDTH HEIGHT WANTED TIMEOUT_MS
//     Opens the ring (retrying until it exists) and checks WANTED distinct pictures byte for
//     byte. Exit 0 when all matched, 1 on a picture that is not what its number says, 2 on
//     time-out, 5 if the ring never opened.
//   ring_child watch NAME RESULT_FILE BASE_US STEP_US
//     Reads decoded clip pictures, as the camera does, until stopped, then once more, and writes
//     "pictures bad lastNumber lastTimestamp lastCounter width height" to RESULT_FILE. A picture
//     is bad unless it is packed NV12 whose drawn counter is (timestamp - BASE_US) / STEP_US.
//     Exit 0 when the ring was open at the end, 5 when not.
//   ring_child decode NAME CLIP_DIR CLIP
//     Decodes the clip CLIP_DIR/CLIP (numbered and timed as decoder/clip_units.h does) through
//     the control program's decode pipeline into the ring NAME, sets "Local\<NAME>-decoded",
//     then keeps the ring open until stopped. Exit 0 when stopped, 2 if the clip, the pipeline
//     or every picture failed.
// Any verb: exit 3 on bad arguments, 4 when no stop came within 120 s. "Stopped" is the event
// "Local\<NAME>-stop", which the test sets through RingStop.
#pragma once

#include <windows.h>

#include <string>

#include "ring/frame_ring_format.h"
#include "support/child_process_win.h"

namespace testsupport {

// The event "Local\<ring>-<which>" that the test and ring_child share.
class RingEvent {
 public:
  RingEvent(const std::string& ringName, const char* which)
      : handle_(CreateEventA(nullptr, TRUE, FALSE, ("Local\\" + ringName + "-" + which).c_str())) {}
  ~RingEvent() {
    if (handle_) CloseHandle(handle_);
  }
  RingEvent(const RingEvent&) = delete;
  RingEvent& operator=(const RingEvent&) = delete;
  bool valid() const { return handle_ != nullptr; }
  void set() { SetEvent(handle_); }
  void reset() { ResetEvent(handle_); }
  bool wait(DWORD ms) const { return handle_ && WaitForSingleObject(handle_, ms) == WAIT_OBJECT_0; }

 private:
  HANDLE handle_;
};

struct RingStop : RingEvent {
  explicit RingStop(const std::string& ringName) : RingEvent(ringName, "stop") {}
};

// A ring name of this test process's own, so tests running side by side never share a ring.
inline std::string uniqueRingName(const char* what) {
  return "brindle-test-" + std::to_string(GetCurrentProcessId()) + "-" + what;
}

// Whether some process holds the ring called `name` (by default the system's).
inline bool ringExists(const std::string& name = ring::kFrameRingName) {
  HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, (ring::kFrameRingNamespace + name).c_str());
  if (h) CloseHandle(h);
  return h != nullptr;
}

// Starts ring_child with `args` (the verb and its arguments).
inline bool startRingChild(ChildProcess& child, const std::string& args) {
  return child.start(windowsPath(BRINDLE_RING_CHILD) + L" " + std::wstring(args.begin(), args.end()));
}

}  // namespace testsupport
