// The hand-off of the newest picture from the video thread to the UI thread.
#include "session/picture_slot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "support/log_capture.h"

namespace {

// A packed NV12 picture whose every byte is `fill`.
media::DecodedFrame picture(std::uint32_t width, std::uint32_t height, std::uint8_t fill) {
  media::DecodedFrame p;
  p.width = width;
  p.height = height;
  p.stride = width;
  p.data.assign(std::size_t(pixels::nv12Bytes(width, height)), fill);
  return p;
}

TEST(PictureSlot, OnlyTheNewestWaitsAndTakingEmptiesTheSlot) {
  session::PictureSlot slot;
  media::DecodedFrame out;
  EXPECT_FALSE(slot.take(out));

  slot.put(picture(4, 2, 0x11));
  slot.put(picture(6, 4, 0x22));
  ASSERT_TRUE(slot.take(out));
  EXPECT_EQ(out.width, 6u);
  EXPECT_EQ(out.height, 4u);
  EXPECT_EQ(out.stride, 6u);
  EXPECT_EQ(out.data, std::vector<std::uint8_t>(6 * 4 + 6 * 2, 0x22)) << "the second replaces the first";
  EXPECT_FALSE(slot.take(out));

  slot.put(picture(5, 3, 0x33));  // odd height: the last chroma row covers the bottom row alone
  ASSERT_TRUE(slot.take(out));
  EXPECT_EQ(out.data.size(), 25u);
  slot.put(picture(5, 3, 0x44));
  slot.clear();
  EXPECT_FALSE(slot.take(out));
}

TEST(PictureSlot, EmptyPicturesAreIgnoredAndUnreadableOnesDroppedWithALine) {
  testsupport::LogCapture log;
  session::PictureSlot slot;
  slot.put(picture(6, 4, 0x22));

  // A good picture with one thing wrong.
  auto putSpoilt = [&](std::uint32_t width, std::uint32_t height, auto spoil) {
    media::DecodedFrame p = picture(width, height, 0x55);
    spoil(p);
    slot.put(p);
  };
  putSpoilt(4, 2, [](media::DecodedFrame& p) { p.width = 0; });
  putSpoilt(4, 2, [](media::DecodedFrame& p) { p.height = 0; });
  EXPECT_TRUE(log.lines().empty());

  putSpoilt(8, 8, [](media::DecodedFrame& p) { p.data.pop_back(); });  // one byte short of its chroma
  putSpoilt(8, 8, [](media::DecodedFrame& p) { p.stride = 16; });
  putSpoilt(8, 8, [](media::DecodedFrame& p) { p.codedHeight = 16; });
  putSpoilt(5, 3, [](media::DecodedFrame& p) { p.data.resize(20); });  // no chroma for the odd row
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "[Preview] picture 8x8 dropped: 95 bytes, needs 96\n",
                             "[Preview] picture 8x8 dropped: stride 16, coded height 0, not packed\n",
                             "[Preview] picture 8x8 dropped: stride 8, coded height 16, not packed\n",
                             "[Preview] picture 5x3 dropped: 20 bytes, needs 25\n",
                         }));

  media::DecodedFrame out;
  ASSERT_TRUE(slot.take(out));
  EXPECT_EQ(out.width, 6u) << "the waiting picture is untouched";
  EXPECT_EQ(out.data, std::vector<std::uint8_t>(6 * 4 + 6 * 2, 0x22));
}

// Pictures of two sizes put as fast as they can be taken: every picture taken is whole, one
// put's size and bytes, never a mix of two.
TEST(PictureSlot, APictureTakenWhilePicturesArriveIsOneWholePicture) {
  session::PictureSlot slot;
  std::atomic<bool> done{false};
  std::thread stream([&] {
    for (int i = 0; i < 2000; ++i) {
      slot.put(i % 2 == 0 ? picture(64, 32, std::uint8_t(i)) : picture(16, 8, std::uint8_t(i)));
    }
    done = true;
  });
  int taken = 0, broken = 0;
  media::DecodedFrame out;
  for (;;) {
    const bool finished = done.load();
    if (slot.take(out)) {
      ++taken;
      const bool big = out.width == 64;
      const std::uint8_t fill = out.data.empty() ? 0 : out.data.front();
      const bool whole = out.height == (big ? 32u : 8u) && out.data.size() == (big ? 64u * 48u : 16u * 12u) &&
                         fill % 2 == (big ? 0 : 1) &&
                         std::all_of(out.data.begin(), out.data.end(), [&](std::uint8_t b) { return b == fill; });
      if (!whole) ++broken;
    } else if (finished) {
      break;
    }
  }
  stream.join();
  EXPECT_GT(taken, 0);
  EXPECT_EQ(broken, 0);
}

}  // namespace
