// The ring in real named sections: between processes, across a writer restart, against
// sections that are not what their header claims, under readers racing the writer, with the
// rights capture applications get, and the Media Foundation camera's ring in "Global\".
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ring/frame_ring_reader.h"
#include "ring/frame_ring_writer.h"
#include "ring/global_ring_host.h"
#include "ring/named_section.h"
#include "support/ring_child_win.h"
#include "support/test_picture.h"
#include "support/wait.h"
#include "torn_read_check.h"

namespace {

using namespace std::chrono_literals;

// A ring name no other test program uses at the same time.
using Child = testsupport::ChildProcess;
using testsupport::RingStop;
using testsupport::startRingChild;

// A writer child publishing `count` pictures (0: until stopped), one every 2 ms.
std::string writerArgs(const std::string& name, std::uint32_t slots, std::uint32_t maxSide, std::uint64_t seed,
                       std::uint64_t count, std::uint32_t w, std::uint32_t h) {
  char args[512];
  std::snprintf(args, sizeof(args), "write %s %u %u %u %llu %llu %u %u 2", name.c_str(), slots, maxSide, maxSide,
                (unsigned long long)seed, (unsigned long long)count, w, h);
  return args;
}

TEST(FrameRingProcesses, ReaderProcessGetsTheWriterProcessPicturesByteForByte) {
  // The system's own ring name and geometry, as the control program and the camera use them.
  const std::string name = ring::kFrameRingName;
  RingStop stop(name);
  Child writer, reader;
  ASSERT_TRUE(startRingChild(writer, writerArgs(name, 4, 1920, 11, 0, 1920, 1080)));
  ASSERT_TRUE(startRingChild(reader, "read " + name + " 11 1920 1080 20 60000"));
  EXPECT_EQ(reader.wait(90'000), 0) << "1 = wrong bytes, 2 = too few pictures, 5 = ring never opened";
  stop.set();
  EXPECT_EQ(writer.wait(30'000), 0);
}

TEST(FrameRingProcesses, WriterRestartRenumbersFromOneForAReaderHoldingTheSection) {
  const std::string name = testsupport::uniqueRingName("restart");
  RingStop stop(name);
  ring::FrameRingReader reader;
  ring::RingPicture p;

  Child first;
  ASSERT_TRUE(startRingChild(first, writerArgs(name, 4, 64, 1, 30, 64, 48)));
  ASSERT_TRUE(testsupport::waitUntil([&] { return reader.open(name); }, 30s));
  std::uint64_t lastSeen = 0;
  ASSERT_TRUE(testsupport::waitUntil(
      [&] {
        ring::RingPicture q = reader.readLatest(lastSeen);
        if (q.valid) {
          EXPECT_TRUE(testsupport::pictureMatches(q.pixels.get(), q.size, 1, q.frameNumber));
          lastSeen = q.frameNumber;
        }
        return lastSeen == 30;
      },
      30s));
  stop.set();
  ASSERT_EQ(first.wait(30'000), 0);
  stop.reset();

  // The section lives on through this reader; the next writer takes it over and starts again.
  Child second;
  ASSERT_TRUE(startRingChild(second, writerArgs(name, 4, 64, 2, 3, 64, 48)));
  std::uint64_t firstOfNewRun = 0;
  ASSERT_TRUE(testsupport::waitUntil(
      [&] {
        ring::RingPicture q = reader.readLatest(lastSeen);
        if (q.valid) {
          EXPECT_TRUE(testsupport::pictureMatches(q.pixels.get(), q.size, 2, q.frameNumber)) << q.frameNumber;
          if (firstOfNewRun == 0) firstOfNewRun = q.frameNumber;
          lastSeen = q.frameNumber;
        }
        return lastSeen == 3;
      },
      30s));
  EXPECT_GE(firstOfNewRun, 1u);
  EXPECT_LE(firstOfNewRun, 3u);
  stop.set();
  EXPECT_EQ(second.wait(30'000), 0);
}

// Sections made by hand, as another program (or a damaged one) might leave them.
struct RawSection {
  RawSection(const std::string& name, DWORD size, ring::RingPlace place = ring::RingPlace::Session) {
    handle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                ring::ringObjectName(name, place).c_str());
    view = handle ? static_cast<std::uint8_t*>(MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, size)) : nullptr;
  }
  ~RawSection() {
    if (view) UnmapViewOfFile(view);
    if (handle) CloseHandle(handle);
  }
  void header(std::uint32_t version, std::uint32_t count, std::uint32_t stride) {
    const std::uint32_t words[] = {ring::kFrameRingMagic, version, count, stride, 16, 16, ring::kFourccNv12, 0};
    std::memcpy(view, words, sizeof(words));
  }
  HANDLE handle = nullptr;
  std::uint8_t* view = nullptr;
};

// Sections a writer must leave alone, in `place`: another program's of the ring's exact size, an
// older layout's, and an object of another kind. `refused(fault)` tries them; their bytes must
// not change.
template <class Refused>
void expectOthersLeftAlone(const std::string& name, ring::RingPlace place, Refused refused) {
  const std::uint64_t size = ring::frameRingSectionSize(4, ring::frameRingSlotStride(1920, 1920));
  {  // another program's section of the ring's exact size
    RawSection other(name, DWORD(size), place);
    ASSERT_NE(other.view, nullptr);
    std::memset(other.view, 0x5A, 4096);
    refused(ring::RingFault::OtherRing);
    EXPECT_TRUE(std::all_of(other.view, other.view + 4096, [](std::uint8_t b) { return b == 0x5A; }));
  }
  {  // an older build's ring, smaller, that a capture application still holds
    RawSection older(name, 4096, place);
    ASSERT_NE(older.view, nullptr);
    older.header(1, 1, 4000);
    const std::vector<std::uint8_t> before(older.view, older.view + 4096);
    refused(ring::RingFault::OtherRing);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), older.view));
  }
  {  // an object of another kind
    HANDLE mutex = CreateMutexA(nullptr, FALSE, ring::ringObjectName(name, place).c_str());
    ASSERT_NE(mutex, nullptr);
    refused(ring::RingFault::NameTaken);
    CloseHandle(mutex);
  }
}

TEST(FrameRingSections, SectionsThatAreNotWhatTheyClaimAreRefused) {
  ring::FrameRingReader reader;
  EXPECT_FALSE(reader.open(testsupport::uniqueRingName("missing")));
  EXPECT_FALSE(reader.isOpen());
  EXPECT_FALSE(reader.readLatest(0).valid);

  // A header claiming the system's four big slots in a one-page section.
  const std::string small = testsupport::uniqueRingName("small");
  RawSection page(small, 4096);
  ASSERT_NE(page.view, nullptr);
  page.header(2, 4, 5'529'632);
  EXPECT_FALSE(reader.open(small));
  page.header(1, 1, 4000);
  EXPECT_FALSE(reader.open(small));
  page.header(2, 1, 4000);
  EXPECT_TRUE(reader.open(small));

  // A slot whose size runs far past the mapping: nothing is returned and nothing is touched.
  const std::uint64_t fields[] = {2, 0};
  std::memcpy(page.view + 40, fields, sizeof(fields));
  const std::uint32_t sizes[] = {0x7FFFFFFFu, 16, 16};
  std::memcpy(page.view + 56, sizes, sizeof(sizes));
  const std::uint64_t latest = 1;
  std::memcpy(page.view + 32, &latest, 8);
  EXPECT_FALSE(reader.readLatest(0).valid);
  reader.close();
}

TEST(FrameRingSections, TheWriterTakesOverOnlyItsOwnRingAndWritesOverNothingElse) {
  ring::FrameRingConfig config;  // the system's geometry
  config.name = testsupport::uniqueRingName("taken");
  ring::FrameRingWriter writer;
  expectOthersLeftAlone(config.name, ring::RingPlace::Session, [&](ring::RingFault fault) {
    EXPECT_FALSE(writer.open(config));
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.fault(), fault);
    if (fault == ring::RingFault::NameTaken) {
      EXPECT_EQ(writer.error(), DWORD(ERROR_INVALID_HANDLE));
    }
    EXPECT_FALSE(writer.publish(0, 16, 16, std::vector<std::uint8_t>(384).data(), 384));
  });

  // Its own ring, still held by a reader, is taken over and numbered afresh.
  ASSERT_TRUE(writer.open(config));
  EXPECT_FALSE(writer.reused());
  std::vector<std::uint8_t> picture = testsupport::makePicture(64, 48, 3, 1);
  ASSERT_TRUE(writer.publish(1, 64, 48, picture.data(), picture.size()));
  ring::FrameRingReader reader;
  ASSERT_TRUE(reader.open(config.name));
  ASSERT_TRUE(writer.open(config));
  EXPECT_TRUE(writer.reused());
  EXPECT_EQ(writer.fault(), ring::RingFault::None);
  EXPECT_FALSE(reader.readLatest(0).valid);
  ASSERT_TRUE(writer.publish(2, 64, 48, picture.data(), picture.size()));
  EXPECT_EQ(reader.readLatest(0).frameNumber, 1u);
}

// The Media Foundation camera's ring in "Global\": its host makes it only where nothing is, and
// a writer joins only that ring.
TEST(FrameRingSections, NeitherTheGlobalRingsHostNorAJoiningWriterWritesOverAnotherSection) {
  ring::FrameRingConfig config = ring::globalFrameRingConfig();
  config.name = testsupport::uniqueRingName("global-taken");
  const std::vector<std::uint8_t> picture = testsupport::makePicture(64, 48, 4, 1);
  ring::GlobalRingHost host;
  ring::FrameRingWriter writer;
  EXPECT_FALSE(writer.attach(config, ring::RingPlace::Global));
  EXPECT_EQ(writer.fault(), ring::RingFault::Absent);
  expectOthersLeftAlone(config.name, ring::RingPlace::Global, [&](ring::RingFault fault) {
    EXPECT_FALSE(host.open(config));
    EXPECT_EQ(host.fault(), fault);
    EXPECT_FALSE(ring::GlobalRingHost::running(config.name));
    EXPECT_FALSE(writer.attach(config, ring::RingPlace::Global));
    EXPECT_EQ(writer.fault(), fault);
    EXPECT_FALSE(writer.publish(0, 64, 48, picture.data(), picture.size()));
  });
  // A plain "Local\" ring of the name is not the global one.
  ring::FrameRingWriter local;
  ASSERT_TRUE(local.open(config));
  EXPECT_FALSE(writer.attach(config, ring::RingPlace::Global));
  EXPECT_EQ(writer.fault(), ring::RingFault::Absent);
}

TEST(FrameRingSections, ValidCopiesAreWholePicturesWhileTheWriterRaces) {
  ring::FrameRingWriter writer;
  ASSERT_TRUE(writer.open(ringtest::tornReadConfig(testsupport::uniqueRingName("torn").c_str())));
  ring::FrameRingReader first, second;
  ASSERT_TRUE(first.open(writer.config().name));
  ASSERT_TRUE(second.open(writer.config().name));

  ringtest::TornReadCounts counts = ringtest::runTornReads(
      writer, std::vector<const ring::FrameRingReader*>{&first, &second}, 40'000, 2'000, std::chrono::seconds(20));
  ringtest::expectWholePictures(counts);
}

}  // namespace

namespace {

std::string processUserSid() {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(TOKEN_USER) unsigned char buffer[256];
  DWORD length = 0;
  char* sid = nullptr;
  EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &length));
  EXPECT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid));
  CloseHandle(token);
  std::string text = sid != nullptr ? sid : "";
  LocalFree(sid);
  return text;
}

constexpr char kAllAccess[] = "CCDCLCSWRPSDRCWDWO";  // SECTION_ALL_ACCESS

// Checks the DACL (as SDDL) and the one label entry (no write up, at `labelSid`) of `object`, and
// returns the access its DACL entry `entry` gives.
ACCESS_MASK expectDescriptor(HANDLE object, const std::string& expectedDacl, const char* labelSid, DWORD entry) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr, sacl = nullptr;
  EXPECT_EQ(GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, &sacl, &descriptor),
            DWORD(ERROR_SUCCESS));
  char* text = nullptr;
  EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                   DACL_SECURITY_INFORMATION, &text, nullptr));
  EXPECT_EQ(std::string(text != nullptr ? text : ""), expectedDacl);
  LocalFree(text);
  // The label entry as it is: Wine's SDDL writer cannot spell label entries.
  void* ace = nullptr;
  EXPECT_TRUE(sacl != nullptr && sacl->AceCount == 1 && GetAce(sacl, 0, &ace));
  if (ace != nullptr) {
    auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    EXPECT_EQ(label->Header.AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
    EXPECT_EQ(label->Mask, DWORD(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
    PSID level = nullptr;
    EXPECT_TRUE(ConvertStringSidToSidA(labelSid, &level));
    EXPECT_TRUE(EqualSid(&label->SidStart, level)) << labelSid;
    LocalFree(level);
  }
  ACCESS_MASK mask = 0;
  void* found = nullptr;
  if (dacl != nullptr && entry < dacl->AceCount && GetAce(dacl, entry, &found)) {
    mask = static_cast<ACCESS_ALLOWED_ACE*>(found)->Mask;
  }
  LocalFree(descriptor);
  return mask;
}

// The user's ring: returns the access its read entries give.
ACCESS_MASK expectRingDescriptor(HANDLE section) {
  const std::string all = kAllAccess;
  const std::string read = "CCLCRC";  // SECTION_QUERY, SECTION_MAP_READ, READ_CONTROL
  return expectDescriptor(section,
                          "D:P(A;;" + all + ";;;" + processUserSid() + ")(A;;" + all + ";;;SY)(A;;" + all +
                              ";;;BA)(A;;" + read + ";;;IU)(A;;" + read + ";;;AC)",
                          "S-1-16-4096", 3);
}

// Elevated, low-integrity and AppContainer capture applications may all read the ring and none
// of them write it; an older build's ring of the same layout gets the same rights when taken over.
TEST(FrameRingSecurity, TheRingIsReadableByEveryCaptureApplicationAndItsReaderNeedsNoMore) {
  ring::FrameRingConfig config;
  config.name = testsupport::uniqueRingName("secured");
  config.slotCount = 2;
  config.maxWidth = 64;
  config.maxHeight = 64;
  const std::string objectName = ring::kFrameRingNamespace + config.name;
  const std::uint64_t size = ring::frameRingSectionSize(2, ring::frameRingSlotStride(64, 64));
  ring::FrameRingWriter writer;
  ASSERT_TRUE(writer.open(config));
  HANDLE section = OpenFileMappingA(READ_CONTROL | WRITE_DAC, FALSE, objectName.c_str());
  ASSERT_NE(section, nullptr);
  expectRingDescriptor(section);
  CloseHandle(section);
  writer.close();

  // An older build's ring of this layout, made with the default descriptor, still held.
  RawSection older(config.name, DWORD(size));
  ring::FrameRingBlockWriter olderRing;
  ASSERT_TRUE(olderRing.format(older.view, size, config));
  ASSERT_TRUE(writer.open(config));
  EXPECT_TRUE(writer.reused());
  const ACCESS_MASK readMask = expectRingDescriptor(older.handle);
  ASSERT_NE(readMask, 0u);

  // Nobody but its reader may use it now, and it only with the read entries' rights.
  char readOnly[64];
  std::snprintf(readOnly, sizeof(readOnly), "D:P(A;;0x%lx;;;WD)", static_cast<unsigned long>(readMask));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(readOnly, SDDL_REVISION_1, &descriptor, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_EQ(SetSecurityInfo(older.handle, SE_KERNEL_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                            nullptr),
            DWORD(ERROR_SUCCESS));
  LocalFree(descriptor);
  ASSERT_EQ(OpenFileMappingA(FILE_MAP_WRITE, FALSE, objectName.c_str()), nullptr) << "this system checks the rights";
  std::vector<std::uint8_t> picture = testsupport::makePicture(64, 48, 5, 1);
  ASSERT_TRUE(writer.publish(7, 64, 48, picture.data(), picture.size()));
  ring::FrameRingReader reader;
  ASSERT_TRUE(reader.open(config.name));
  ring::RingPicture got = reader.readLatest(0);
  ASSERT_TRUE(got.valid);
  EXPECT_TRUE(testsupport::pictureMatches(got.pixels.get(), got.size, 5, 1));

  // Inside an AppContainer the reader names it by the logon session's full path: the same ring.
  ring::NamedSection byPath;
  ASSERT_TRUE(byPath.openInSession(config.name));
  ring::FrameRingBlockReader sameRing;
  ASSERT_TRUE(sameRing.attach(byPath.data(), byPath.size()));
  EXPECT_EQ(sameRing.readLatest(0).timestampUs, 7u);
  EXPECT_FALSE(byPath.openInSession(testsupport::uniqueRingName("absent")));
}

// The service's ring: the interactive user may map it for reading and writing and do nothing
// else with it, at medium integrity; the control program joins it, the source reads it by its
// global name, and it lasts while any host holds it.
TEST(FrameRingSecurity, TheGlobalRingLetsTheUserWriteAndHostsShareIt) {
  ring::FrameRingConfig config = ring::globalFrameRingConfig();
  config.name = testsupport::uniqueRingName("global-secured");
  const std::string objectName = ring::ringObjectName(config.name, ring::RingPlace::Global);
  ring::GlobalRingHost host;
  ASSERT_TRUE(host.open(config)) << host.error();
  EXPECT_TRUE(ring::GlobalRingHost::running(config.name));
  EXPECT_FALSE(testsupport::ringExists(config.name)) << "Local\\ and Global\\ are one namespace here";

  const std::string all = kAllAccess;
  const std::string service = "D:P(A;;" + all + ";;;SY)(A;;" + all + ";;;LS)(A;;" + all + ";;;BA)(A;;";
  HANDLE section = OpenFileMappingA(READ_CONTROL, FALSE, objectName.c_str());
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(expectDescriptor(section, service + "CCDCLC;;;IU)", "S-1-16-8192", 3),
            DWORD(SECTION_QUERY | SECTION_MAP_READ | SECTION_MAP_WRITE));
  CloseHandle(section);
  // The marker writers look for has the same descriptor (0x7 grants the user query there).
  HANDLE marker = OpenEventA(READ_CONTROL, FALSE, (objectName + "-host").c_str());
  ASSERT_NE(marker, nullptr);
  expectDescriptor(marker, service + "CCDCLC;;;IU)", "S-1-16-8192", 3);
  CloseHandle(marker);

  ring::FrameRingWriter writer;
  ASSERT_TRUE(writer.attach(config, ring::RingPlace::Global));
  const std::vector<std::uint8_t> picture = testsupport::makePicture(64, 48, 6, 1);
  ASSERT_TRUE(writer.publish(9, 64, 48, picture.data(), picture.size()));
  ring::FrameRingReader reader;
  EXPECT_FALSE(reader.open(config.name));
  ASSERT_TRUE(reader.open(config.name, ring::RingPlace::Global));
  ring::RingPicture got = reader.readLatest(0);
  ASSERT_TRUE(got.valid);
  EXPECT_EQ(got.timestampUs, 9u);
  EXPECT_TRUE(testsupport::pictureMatches(got.pixels.get(), got.size, 6, 1));

  {  // a second host takes the ring as it is; the ring is hosted until both have gone
    ring::GlobalRingHost second;
    ASSERT_TRUE(second.open(config));
    EXPECT_EQ(reader.readLatest(0).frameNumber, 1u);
    host.close();
    EXPECT_TRUE(ring::GlobalRingHost::running(config.name));
  }
  EXPECT_FALSE(ring::GlobalRingHost::running(config.name));
}

}  // namespace
