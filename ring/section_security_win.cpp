#include "ring/section_security_win.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <string>

namespace ring {

namespace {

constexpr unsigned long kSectionFullAccess = SECTION_ALL_ACCESS;
// What GENERIC_READ means for a section: READ_CONTROL, SECTION_QUERY, SECTION_MAP_READ.
constexpr unsigned long kSectionReadAccess = READ_CONTROL | SECTION_QUERY | SECTION_MAP_READ;
// What a writer joining the section needs to open and map it: no READ_CONTROL, no DELETE.
constexpr unsigned long kSectionWriterAccess = SECTION_QUERY | SECTION_MAP_READ | SECTION_MAP_WRITE;

// The SID of this process's user as text; empty if it cannot be read.
std::string processUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  std::string text;
  char* sid = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &length) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
    text = sid;
    LocalFree(sid);
  }
  CloseHandle(token);
  return text;
}

// The descriptor as SDDL for the user whose SID reads `userSid` ("S-1-5-21-...").
std::string ringSectionSddl(const std::string& userSid) {
  // P: nothing is inherited from the namespace's directory. IU: the interactive logon's users,
  // in elevated tokens too. AC: ALL APPLICATION PACKAGES. LW: low integrity; NW: no write up.
  char text[320];
  std::snprintf(text, sizeof(text),
                "D:P(A;;0x%lx;;;%s)(A;;0x%lx;;;SY)(A;;0x%lx;;;BA)(A;;0x%lx;;;IU)(A;;0x%lx;;;AC)S:(ML;;NW;;;LW)",
                kSectionFullAccess, userSid.c_str(), kSectionFullAccess, kSectionFullAccess, kSectionReadAccess,
                kSectionReadAccess);
  return text;
}

// The service ring's descriptor as SDDL. LS: LOCAL SERVICE. ME: medium integrity.
std::string serviceRingSddl() {
  char text[200];
  std::snprintf(text, sizeof(text), "D:P(A;;0x%lx;;;SY)(A;;0x%lx;;;LS)(A;;0x%lx;;;BA)(A;;0x%lx;;;IU)S:(ML;;NW;;;ME)",
                kSectionFullAccess, kSectionFullAccess, kSectionFullAccess, kSectionWriterAccess);
  return text;
}

}  // namespace

SectionSecurity::SectionSecurity(SectionUse use) {
  std::string sddl;
  if (use == SectionUse::ServiceRing) {
    sddl = serviceRingSddl();
  } else {
    const std::string user = processUserSid();
    if (user.empty()) return;
    sddl = ringSectionSddl(user);
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    descriptor_ = descriptor;
  }
}

SectionSecurity::~SectionSecurity() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}

bool SectionSecurity::applyTo(void* handle) const {
  // The descriptor whole, so that its DACL stays protected from inheritance.
  return descriptor_ != nullptr &&
         SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, descriptor_) != FALSE;
}

}  // namespace ring
