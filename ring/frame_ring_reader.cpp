#include "ring/frame_ring_reader.h"

#include "ring/frame_ring_format.h"

namespace ring {

// A capture application in an AppContainer (a UWP app, or a packaged app run inside one) has a
// named-object namespace of its own: its "Local\" names resolve in
// \Sessions\<session>\AppContainerNamedObjects\<its SID>, so "Local\brindlevideo-ring" there is
// not the ring the control program made in the session's \Sessions\<session>\BaseNamedObjects.
// What Microsoft documents:
//  - "Sharing named objects" (learn.microsoft.com/windows/apps/develop/communication/
//    sharing-named-objects): processes in an AppContainer "can only access named objects they've
//    created" by default; to share one, "permissions must be set when objects are created, and
//    names must be qualified when objects are opened".
//  - "Kernel object namespaces" (learn.microsoft.com/windows/win32/termserv/
//    kernel-object-namespaces): "The global namespace is not available for Windows Store apps",
//    and the "Session\" prefix is reserved for the system, so no Win32 name prefix leads out.
//  - GetAppContainerNamedObjectPath (securityappcontainer.h): "by default, named objects in the
//    user's or global session are not accessible to Windows Store apps"; its example grants ALL
//    APPLICATION PACKAGES access to an object made in the session. The function itself gives a
//    container's own path, for naming objects inside one container from outside; the control
//    program cannot know every container that loads the camera.
//  - ZwOpenSection (wdm.h; NtOpenSection from user mode) opens a section by a full object path.
// So the reader qualifies the name itself: inside an AppContainer, when its own "Local\" holds
// no ring, it opens \Sessions\<its session>\BaseNamedObjects\<name> by that full path, read
// only. The section's descriptor admits it (ALL APPLICATION PACKAGES may read, and the
// interactive user, which an AppContainer token keeps, too: both checks must pass). Wine has no
// AppContainers: the full-path open is tested there, the redirection that needs it is not.
// The global namespace is closed to AppContainers altogether ("Kernel object namespaces"): no
// fallback there.
bool FrameRingReader::open(const std::string& name, RingPlace place) {
  close();
  const bool opened = section_.open(ringObjectName(name, place)) ||
                      (place == RingPlace::Session && runningInAppContainer() && section_.openInSession(name));
  if (!opened) return false;
  if (!ring_.attach(section_.data(), section_.size())) {
    section_.close();
    return false;
  }
  return true;
}

void FrameRingReader::close() {
  ring_.reset();
  section_.close();
}

}  // namespace ring
