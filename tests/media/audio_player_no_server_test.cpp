// AudioPlayer with no audio server: runs with PULSE_SERVER pointing nowhere, so Wine's WASAPI
// has no default output device. The player takes the format and keeps looking for a device,
// quietly and without spinning, while queueing no more than its bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "media/audio_player_win.h"
#include "support/log_capture.h"

namespace {

using namespace std::chrono_literals;

TEST(AudioPlayerNoServer, WaitsForADeviceQuietlyWithABoundedQueue) {
  testsupport::LogCapture log;
  media::AudioPlayer player;
  EXPECT_TRUE(player.configure(media::AudioFormat()));
  EXPECT_TRUE(player.opened());
  std::vector<std::string> lines = log.linesStartingWith("[AudioPlayer] GetDefaultAudioEndpoint failed 0x");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines.back().back(), '\n');
  EXPECT_EQ(log.count("[AudioPlayer] no output device yet, trying again every 100 ms\n"), 1u);

  // Half a second of 10 ms pieces: queued up to 120 ms (46,080 bytes), not dropped, not more.
  std::vector<std::uint8_t> bytes(3840, 1);
  std::size_t most = 0;
  for (int n = 0; n < 50; n++) {
    player.push(bytes.data(), bytes.size());
    most = std::max(most, player.queuedBytes());
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_GT(most, 0u);
  EXPECT_LE(most, 46080u);

  // The same format again changes nothing; the attempts go on without a line each.
  EXPECT_TRUE(player.configure(media::AudioFormat()));
  EXPECT_EQ(log.count("[AudioPlayer] GetDefaultAudioEndpoint failed"), 1u);
  EXPECT_EQ(log.count("[AudioPlayer] started"), 0u);
  std::uint64_t passes = player.renderPasses();
  EXPECT_GE(passes, 2u) << "no attempts after the first";
  EXPECT_LE(passes, 20u) << "attempts without the 100 ms pause";

  player.stop();
  player.stop();
  EXPECT_FALSE(player.opened());
  EXPECT_EQ(player.queuedBytes(), 0u);
}

}  // namespace
