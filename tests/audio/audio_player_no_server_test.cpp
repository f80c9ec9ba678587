// AudioPlayer with no audio server: runs with PULSE_SERVER pointing nowhere, so Wine's WASAPI
// has no default output device. Every open fails cleanly and the player stays usable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/audio_player_win.h"
#include "support/log_capture.h"

namespace {

TEST(AudioPlayerNoServer, OpenFailsWithItsLineAndNothingElseHappens) {
  testsupport::LogCapture log;
  media::AudioPlayer player;
  std::vector<std::uint8_t> bytes(3840, 1);

  // Each format message tries again; each failure is logged once and leaves the player closed.
  for (int attempt = 1; attempt <= 2; attempt++) {
    EXPECT_FALSE(player.configure(media::AudioFormat()));
    EXPECT_FALSE(player.opened());
    std::vector<std::string> lines = log.linesStartingWith("[AudioPlayer] GetDefaultAudioEndpoint failed 0x");
    ASSERT_EQ(lines.size(), std::size_t(attempt));
    EXPECT_EQ(lines.back().back(), '\n');
    EXPECT_EQ(log.count("[AudioPlayer] started"), 0u);

    player.push(bytes.data(), bytes.size());
    EXPECT_EQ(player.queuedBytes(), 0u);
  }
  player.stop();
  player.stop();
  EXPECT_FALSE(player.opened());
}

}  // namespace
