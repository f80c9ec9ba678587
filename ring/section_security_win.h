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
// (A;;0x20005;;;AC)S:(ML;;NW;;;LW). Windows only.
#pragma once

namespace ring {

class SectionSecurity {
 public:
  // The descriptor for this process's user; none (descriptor() null) if it cannot be built.
  SectionSecurity();
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
