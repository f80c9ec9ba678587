// Who may use the frame ring's section, the one named object a capture application's process
// opens. Without a descriptor of its own the section would get its creator's default DACL and
// no integrity label: open to Administrators and SYSTEM alone when the control program runs
// elevated, and closed to every low-integrity and AppContainer process (packaged apps among
// them). With this one:
//   - the creating user, SYSTEM and Administrators have full access;
//   - the interactive user, elevated or not, and ALL APPLICATION PACKAGES (S-1-15-2-1) may read
//     (map and query), which is all the camera's reader asks for; an AppContainer process is
//     let in only when both its user's groups and its package's group are granted;
//   - a low mandatory label with no-write-up lets low-integrity readers read and never write.
// As SDDL, for user U: D:P(A;;0xf001f;;;U)(A;;0xf001f;;;SY)(A;;0xf001f;;;BA)(A;;0x20005;;;IU)
// (A;;0x20005;;;AC)S:(ML;;NW;;;LW).
//
// The ring the Media Foundation camera's source makes in "Global\" (cross_session.md) has one
// writer, the control program of the interactive user, and one reader, the source itself:
//   - SYSTEM, LOCAL SERVICE (the source's account) and Administrators have full access;
//   - the interactive user may open and map it for reading and writing, and nothing more: no
//     delete, no change of its security, no read of its descriptor;
//   - a medium mandatory label with no-write-up: the medium-integrity control program may
//     write, low-integrity processes may not. Without it the object would take its creator's
//     level, System for a service, and no user program could write it.
// As SDDL: D:P(A;;0xf001f;;;SY)(A;;0xf001f;;;LS)(A;;0xf001f;;;BA)(A;;0x7;;;IU)S:(ML;;NW;;;ME).
// Windows only.
#pragma once

namespace ring {

// Whose ring a section's descriptor is for.
enum class SectionUse {
  UserRing,     // the control program's "Local\" ring, read by capture applications
  ServiceRing,  // the Media Foundation camera's "Global\" ring, written by the control program
};

class SectionSecurity {
 public:
  // The descriptor for `use` (and this process's user); none (descriptor() null) if it cannot
  // be built.
  explicit SectionSecurity(SectionUse use = SectionUse::UserRing);
  ~SectionSecurity();
  SectionSecurity(const SectionSecurity&) = delete;
  SectionSecurity& operator=(const SectionSecurity&) = delete;

  // A SECURITY_DESCRIPTOR for SECURITY_ATTRIBUTES, or null.
  void* descriptor() const { return descriptor_; }
  // Gives the existing object `handle` (opened with WRITE_DAC and WRITE_OWNER) this
  // descriptor's DACL and label. False, changing nothing, if it may not.
  bool applyTo(void* handle) const;

 private:
  void* descriptor_ = nullptr;
};

}  // namespace ring
