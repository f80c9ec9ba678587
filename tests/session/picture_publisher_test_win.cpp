// The publisher's mirror into the Media Foundation camera's global ring: found within its
// retry interval while a host runs, the same pictures as the user's ring, let go when a picture
// is refused or the host goes, and nothing written, nothing logged but once, where no ring of
// its layout is hosted.
#include "session/picture_publisher_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ring/frame_ring_reader.h"
#include "ring/global_ring_host.h"
#include "support/log_capture.h"
#include "support/ring_child_win.h"
#include "support/test_picture.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kSeed = 8;

// A publisher on rings of the test's own names, fed test pictures numbered from 1.
struct Publishing {
  session::Orientation orientation;
  session::PictureSlot preview;
  session::PicturePublisher publisher{orientation, preview};
  std::string local = testsupport::uniqueRingName("publisher");
  std::string global = testsupport::uniqueRingName("publisher-global");
  std::uint64_t sent = 0;

  explicit Publishing(std::uint32_t maxSide = 1920) { EXPECT_TRUE(publisher.open(maxSide, maxSide, local, global)); }
  void send(std::uint32_t width = 64, std::uint32_t height = 48) {
    media::DecodedFrame frame;
    frame.width = width;
    frame.height = height;
    frame.codedHeight = height;
    frame.stride = width;
    frame.timestampUs = std::int64_t(++sent);
    frame.data = testsupport::makePicture(width, height, kSeed, sent);
    publisher.picture(frame);
  }
  // Sends a picture every 10 ms until `done` holds, for at most `timeout`.
  template <class Done>
  bool sendUntil(Done done, std::chrono::milliseconds timeout) {
    return testsupport::waitUntil(
        [&] {
          send();
          Sleep(10);
          return done();
        },
        timeout);
  }
};

// The newest picture of a ring: its number in this test's feed (the timestamp) and whether its
// bytes are that picture's.
std::uint64_t newest(const ring::FrameRingReader& reader) {
  const ring::RingPicture got = reader.readLatest(0);
  if (!got.valid) return 0;
  EXPECT_TRUE(testsupport::pictureMatches(got.pixels.get(), got.size, kSeed, got.timestampUs)) << got.timestampUs;
  return got.timestampUs;
}

constexpr char kLine[] = "[Publisher]";

TEST(PicturePublisherMirror, JoinsAHostedGlobalRingWithinASecondAndLetsGoWhenRefusedOrAlone) {
  testsupport::LogCapture log;
  Publishing p(2048);  // room in the user's ring for a picture the global ring cannot hold
  ring::FrameRingReader local, global;
  ASSERT_TRUE(local.open(p.local));

  // No host: the user's ring and the preview get every picture, and nothing is said.
  p.sendUntil([] { return false; }, 1200ms);
  EXPECT_FALSE(p.publisher.mirroring());
  EXPECT_EQ(newest(local), p.sent);
  media::DecodedFrame previewed;
  ASSERT_TRUE(p.preview.take(previewed));
  EXPECT_EQ(previewed.timestampUs, std::int64_t(p.sent));
  EXPECT_EQ(log.count(kLine), 0u);

  ring::FrameRingConfig config = ring::globalFrameRingConfig();
  config.name = p.global;
  ring::GlobalRingHost host;
  ASSERT_TRUE(host.open(config));
  const auto hosted = std::chrono::steady_clock::now();
  ASSERT_TRUE(p.sendUntil([&] { return p.publisher.mirroring(); }, 3000ms));
  EXPECT_LE(std::chrono::steady_clock::now() - hosted, 1500ms);
  EXPECT_EQ(log.count("[Publisher] the Media Foundation camera's ring Global\\" + p.global + " is attached"), 1u);

  // The source's reader sees what the camera's reader sees.
  ASSERT_TRUE(global.open(p.global, ring::RingPlace::Global));
  for (int i = 0; i < 5; i++) {
    p.send();
    EXPECT_EQ(newest(global), p.sent);
    EXPECT_EQ(newest(local), p.sent);
  }

  // A picture the global ring cannot hold: it is let go, the user's ring still gets it.
  p.send(2048, 2048);
  EXPECT_FALSE(p.publisher.mirroring());
  EXPECT_EQ(newest(local), p.sent);
  EXPECT_EQ(log.count("[Publisher] the Media Foundation camera's ring Global\\" + p.global +
                      " is let go: it refused a picture"),
            1u);
  ASSERT_TRUE(p.sendUntil([&] { return p.publisher.mirroring(); }, 3000ms));

  // The host goes: the ring is let go within a second, and nothing else is said.
  host.close();
  ASSERT_TRUE(p.sendUntil([&] { return !p.publisher.mirroring(); }, 3000ms));
  EXPECT_EQ(log.count("[Publisher] the Media Foundation camera's ring Global\\" + p.global +
                      " is let go: its camera closed it"),
            1u);
  p.sendUntil([] { return false; }, 1200ms);
  p.publisher.close();
  EXPECT_EQ(log.count(kLine), 4u);
  EXPECT_EQ(newest(local), p.sent);
}

// A hosted name whose section is not a ring of the system's layout: never written, said once.
TEST(PicturePublisherMirror, NeverWritesIntoAHostedSectionOfAnotherLayout) {
  testsupport::LogCapture log;
  Publishing p;
  const std::string objectName = ring::ringObjectName(p.global, ring::RingPlace::Global);
  HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1 << 20, objectName.c_str());
  ASSERT_NE(section, nullptr);
  auto* view = static_cast<std::uint8_t*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  std::fill(view, view + (1 << 20), std::uint8_t(0x5A));
  HANDLE marker = CreateEventA(nullptr, TRUE, FALSE, (objectName + "-host").c_str());
  ASSERT_TRUE(ring::GlobalRingHost::running(p.global));

  p.sendUntil([] { return false; }, 2500ms);
  EXPECT_FALSE(p.publisher.mirroring());
  EXPECT_TRUE(std::all_of(view, view + (1 << 20), [](std::uint8_t b) { return b == 0x5A; }));
  EXPECT_EQ(log.count(kLine), 1u);
  EXPECT_EQ(log.count("[Publisher] the Media Foundation camera's ring Global\\" + p.global +
                      " is hosted but not one to write into"),
            1u);
  CloseHandle(marker);
  UnmapViewOfFile(view);
  CloseHandle(section);
}

}  // namespace
