// The Media Foundation camera's own frame ring (cross_session.md). Its source runs in the Frame
// Server service, as LOCAL SERVICE in session 0, where the control program's "Local\" ring is
// out of reach; so the source makes a ring in "Global\" (which needs the "Create global
// objects" right a service has and a user lacks), lets the interactive user write it, and
// holds it while it runs. The control program finds it there and publishes every picture into
// it as well (FrameRingWriter::attach); the source reads it with
// FrameRingReader::open(name, RingPlace::Global). Windows only.
#pragma once

#include <string>

#include "common/unique_handle.h"
#include "ring/frame_ring_format.h"
#include "ring/frame_ring_writer.h"
#include "ring/named_section.h"

namespace ring {

class GlobalRingHost {
 public:
  GlobalRingHost() = default;
  ~GlobalRingHost() { close(); }
  GlobalRingHost(const GlobalRingHost&) = delete;
  GlobalRingHost& operator=(const GlobalRingHost&) = delete;

  // Closes anything held, then creates "Global\" + config.name with the service ring's
  // descriptor (section_security_win.h) and lays out an empty ring of `config`; a section of
  // that name that is this ring laid out alike (another source's, or one the control program
  // still holds) is kept as it is. Also makes the host marker writers look for (running()).
  // False, closed, with fault() and error() saying why, when the section cannot be made or is
  // of another size or layout, which is never written over.
  bool open(const FrameRingConfig& config = globalFrameRingConfig());
  // Lets go of the ring: a writer that joined it notices within a second that no host runs.
  void close();

  bool isOpen() const { return static_cast<bool>(marker_); }
  RingFault fault() const { return fault_; }
  unsigned long error() const { return error_; }  // the system's error code behind fault()

  // Whether some process hosts the global ring `name` now. A check, not a hold: it never keeps
  // the ring alive.
  static bool running(const std::string& name);

 private:
  bool fail(RingFault fault, unsigned long error);

  NamedSection section_;
  common::UniqueHandle marker_;  // the event "Global\<name>-host", held while hosting
  RingFault fault_ = RingFault::None;
  unsigned long error_ = 0;
};

}  // namespace ring
