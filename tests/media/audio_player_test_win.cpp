// AudioPlayer against Wine's real WASAPI, which plays into the PulseAudio server's null sink.
// The sink's monitor is recorded with parec (a Linux program Wine starts for us) to show that
// what was pushed is what the device played.
#include <gtest/gtest.h>

#include <windows.h>
#include <audioclient.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "media/audio_player_win.h"
#include "support/log_capture.h"
#include "support/tone_analysis.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 48000;
constexpr double kTone = 1000.0;
constexpr double kPi = 3.14159265358979323846;

// 10 ms of a 1 kHz tone starting at sample `first`, as float32 stereo or int16 mono.
std::vector<std::uint8_t> floatStereoTone(std::int64_t first, int frames) {
  std::vector<std::uint8_t> bytes(std::size_t(frames) * 8);
  for (int i = 0; i < frames; i++) {
    float v = float(0.5 * std::sin(2 * kPi * kTone * double(first + i) / kRate));
    std::memcpy(&bytes[std::size_t(i) * 8], &v, 4);
    std::memcpy(&bytes[std::size_t(i) * 8 + 4], &v, 4);
  }
  return bytes;
}

std::vector<std::uint8_t> int16MonoTone(std::int64_t first, int frames) {
  std::vector<std::uint8_t> bytes(std::size_t(frames) * 2);
  for (int i = 0; i < frames; i++) {
    auto v = std::int16_t(16000 * std::sin(2 * kPi * kTone * double(first + i) / kRate));
    std::memcpy(&bytes[std::size_t(i) * 2], &v, 2);
  }
  return bytes;
}

std::string windowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// Starts `script` under the Linux /bin/sh (Wine runs Linux programs too); false when it cannot.
bool startShell(const std::string& script) {
  std::string command = "/bin/sh -c \"" + script + "\"";
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA("/bin/sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  if (info.hProcess) CloseHandle(info.hProcess);
  if (info.hThread) CloseHandle(info.hThread);
  return true;
}

// Runs `script` to its end (bounded): Wine gives no usable handle for a Linux process, so a
// marker file says when it is done. True when it ran and exited with status 0.
bool runShell(const std::string& script) {
  std::string marker = "/tmp/brindle-shell-" + std::to_string(GetCurrentProcessId()) + ".done";
  std::string markerPath = windowsPath(marker);
  DeleteFileA(markerPath.c_str());
  if (!startShell(script + " && touch " + marker)) return false;
  bool ran = testsupport::waitUntil(
      [&] { return GetFileAttributesA(markerPath.c_str()) != INVALID_FILE_ATTRIBUTES; }, 5000ms);
  DeleteFileA(markerPath.c_str());
  return ran;
}

// Records `seconds` of a sink's monitor into a file, through /bin/sh started by Wine; a marker
// file says when it is done. The monitor starts delivering only some time after parec connects,
// so callers keep playing until done() rather than for a fixed time; a time-out bounds the whole.
class SinkRecording {
 public:
  explicit SinkRecording(double seconds, const std::string& source = "auto_null.monitor") {
    unsigned long id = GetCurrentProcessId();
    unixPath_ = "/tmp/brindle-audio-" + std::to_string(id) + ".raw";
    std::string bytes = std::to_string(static_cast<long long>(seconds * kRate) * 8);
    started_ = startShell("rm -f " + unixPath_ + ".done; /usr/bin/timeout 8 /usr/bin/parec -d " + source +
                          " --format=float32le --rate=48000 --channels=2 --raw --latency-msec=100 2>/dev/null"
                          " | head -c " + bytes + " > " + unixPath_ + "; touch " + unixPath_ + ".done");
  }
  ~SinkRecording() {
    waitDone();
    DeleteFileA(windowsPath(unixPath_).c_str());
    DeleteFileA(windowsPath(unixPath_ + ".done").c_str());
  }
  bool started() const { return started_; }
  bool done() const { return GetFileAttributesA(windowsPath(unixPath_ + ".done").c_str()) != INVALID_FILE_ATTRIBUTES; }

  // Waits (bounded) for the recording to finish and returns its samples, interleaved stereo.
  std::vector<float> samples() {
    std::vector<float> out;
    if (!waitDone()) return out;
    std::ifstream file(windowsPath(unixPath_), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    out.resize(bytes.size() / 4);
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 4);
    return out;
  }

 private:
  bool waitDone() const {
    return started_ && testsupport::waitUntil([&] { return done(); }, 10000ms);
  }
  std::string unixPath_;
  bool started_ = false;
};

// One channel of interleaved stereo.
testsupport::ToneAnalysis analyse(const std::vector<float>& stereo, int channel) {
  return testsupport::analyseTone([&](std::size_t i) { return double(stereo[i * 2 + channel]); }, stereo.size() / 2,
                                  kRate);
}

// Pushes the tone in 10 ms pieces at real-time pace until the recording is done (at most 9 s).
template <class MakeTone>
void pushToneWhileRecording(media::AudioPlayer& player, const SinkRecording& recording, MakeTone makeTone) {
  const int frames = kRate / 100;
  Clock::time_point start = Clock::now();
  for (int n = 0; n < 900 && !recording.done(); n++) {
    std::vector<std::uint8_t> piece = makeTone(std::int64_t(n) * frames, frames);
    player.push(piece.data(), piece.size());
    std::this_thread::sleep_until(start + n * 10ms + 10ms);
  }
}

media::AudioFormat monoInt16WithoutFrameSize() {
  media::AudioFormat format;  // as read from {"ch":1,"bits":16,"float":false}: bytesPerFrame stays 8
  format.channels = 1;
  format.bitsPerSample = 16;
  format.isFloat = false;
  return format;
}

TEST(AudioPlayerPlayback, StereoFloatToneReachesTheSinkWithoutGaps) {
  testsupport::LogCapture log;
  media::AudioPlayer player;
  ASSERT_TRUE(player.configure(media::AudioFormat())) << "is the PulseAudio server running?";
  EXPECT_EQ(log.count("[AudioPlayer] started 48000 Hz 2 ch 32 bit float\n"), 1u);

  SinkRecording recording(1.0);
  ASSERT_TRUE(recording.started());
  pushToneWhileRecording(player, recording, floatStereoTone);
  std::vector<float> samples = recording.samples();
  player.stop();

  ASSERT_EQ(samples.size(), std::size_t(kRate) * 2);  // a second of stereo
  for (int channel = 0; channel < 2; channel++) {
    testsupport::ToneAnalysis tone = analyse(samples, channel);
    ASSERT_TRUE(tone.sound) << "channel " << channel << " is silent";
    EXPECT_GT(tone.seconds, 0.5);
    EXPECT_NEAR(tone.frequencyHz, kTone, kTone * 0.01) << "channel " << channel;
    EXPECT_LE(tone.longestGapMs, 50.0) << "channel " << channel;
    std::printf("channel %d: %.1f Hz, longest gap %.1f ms, silence %.1f ms in %.2f s\n", channel, tone.frequencyHz,
                tone.longestGapMs, tone.silentMs, tone.seconds);
  }
}

// bytesPerFrame 8 against a 2-byte device frame: the player counts in device frames, so the
// tone plays at its pitch and nothing is written beyond the device buffer.
TEST(AudioPlayerPlayback, MonoInt16WithMismatchedFrameSizePlaysTheTone) {
  testsupport::LogCapture log;
  media::AudioPlayer player;
  ASSERT_TRUE(player.configure(monoInt16WithoutFrameSize()));
  EXPECT_EQ(log.count("[AudioPlayer] started 48000 Hz 1 ch 16 bit int\n"), 1u);
  EXPECT_EQ(player.format().bytesPerFrame, 8);

  SinkRecording recording(1.0);
  ASSERT_TRUE(recording.started());
  pushToneWhileRecording(player, recording, int16MonoTone);
  std::vector<float> samples = recording.samples();
  player.stop();

  testsupport::ToneAnalysis tone = analyse(samples, 0);
  ASSERT_TRUE(tone.sound);
  EXPECT_NEAR(tone.frequencyHz, kTone, kTone * 0.01);
  EXPECT_LE(tone.longestGapMs, 50.0);
  std::printf("mono: %.1f Hz, longest gap %.1f ms, silence %.1f ms in %.2f s\n", tone.frequencyHz, tone.longestGapMs,
              tone.silentMs, tone.seconds);
}

TEST(AudioPlayerQueueing, PushingFasterThanRealTimeKeepsTheDelayBounded) {
  media::AudioPlayer player;
  ASSERT_TRUE(player.configure(media::AudioFormat()));
  // Two seconds of audio as fast as they come: never more than 120 ms (46,080 bytes) queued.
  std::size_t most = 0;
  for (int n = 0; n < 200; n++) {
    std::vector<std::uint8_t> piece = floatStereoTone(std::int64_t(n) * 480, 480);
    player.push(piece.data(), piece.size());
    most = std::max(most, player.queuedBytes());
  }
  EXPECT_LE(most, 46080u);
  EXPECT_GT(most, 0u);

  // One push far over the limit leaves at most the newest 40 ms.
  std::vector<std::uint8_t> big(50000, 0);
  player.push(big.data(), big.size());
  EXPECT_LE(player.queuedBytes(), 15360u);
}

TEST(AudioPlayerState, ClosedPlayerDropsAndStopIsIdempotent) {
  media::AudioPlayer player;
  std::vector<std::uint8_t> bytes(3840, 1);
  player.push(bytes.data(), bytes.size());
  EXPECT_EQ(player.queuedBytes(), 0u);
  EXPECT_FALSE(player.opened());

  player.stop();
  player.stop();
  EXPECT_FALSE(player.opened());
  EXPECT_EQ(player.queuedBytes(), 0u);

  // After a stop the player is closed again and drops what comes.
  ASSERT_TRUE(player.configure(media::AudioFormat()));
  player.stop();
  player.push(bytes.data(), bytes.size());
  EXPECT_EQ(player.queuedBytes(), 0u);
  EXPECT_FALSE(player.opened());
}

TEST(AudioPlayerState, ConfigureReopensOnlyForADifferentDeviceFormat) {
  testsupport::LogCapture log;
  media::AudioPlayer player;
  ASSERT_TRUE(player.configure(media::AudioFormat()));
  ASSERT_EQ(log.count("[AudioPlayer] started"), 1u);

  // Zero bytes change nothing.
  std::size_t before = player.queuedBytes();
  player.push(nullptr, 0);
  EXPECT_EQ(player.queuedBytes(), before);

  // Equal but for bytesPerFrame and bigEndian: unchanged, old bytesPerFrame kept, not reopened.
  media::AudioFormat same;
  same.bytesPerFrame = 4;
  same.bigEndian = true;
  EXPECT_TRUE(player.configure(same));
  EXPECT_TRUE(player.opened());
  EXPECT_EQ(player.format().bytesPerFrame, 8);
  EXPECT_FALSE(player.format().bigEndian);
  EXPECT_EQ(log.count("[AudioPlayer] started"), 1u);

  // Another rate reopens the device, which starts with an empty queue.
  media::AudioFormat other;
  other.sampleRate = 44100;
  std::vector<std::uint8_t> bytes(40000, 0);
  player.push(bytes.data(), bytes.size());
  EXPECT_TRUE(player.configure(other));
  EXPECT_EQ(log.count("[AudioPlayer] started 44100 Hz 2 ch 32 bit float\n"), 1u);
  EXPECT_EQ(player.format().sampleRate, 44100);
  EXPECT_EQ(player.queuedBytes(), 0u);
}

TEST(AudioPlayerState, FailedOpenLeavesItClosedAndALaterFormatWorks) {
  testsupport::LogCapture log;
  media::AudioPlayer player;

  // 12-bit samples: the audio engine refuses them at Initialize, after the client was obtained.
  media::AudioFormat twelve;
  twelve.bitsPerSample = 12;
  twelve.isFloat = false;
  EXPECT_FALSE(player.configure(twelve));
  EXPECT_FALSE(player.opened());
  std::vector<std::string> lines = log.linesStartingWith("[AudioPlayer] IAudioClient::Initialize failed 0x");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), std::string("[AudioPlayer] IAudioClient::Initialize failed 0x88890008\n").size());
  std::vector<std::uint8_t> bytes(3840, 1);
  player.push(bytes.data(), bytes.size());
  EXPECT_EQ(player.queuedBytes(), 0u);

  // A rate no device takes is refused before the audio engine sees it (Wine's would abort).
  media::AudioFormat absurd;
  absurd.sampleRate = 5000000;
  EXPECT_FALSE(player.configure(absurd));
  EXPECT_EQ(log.count("[AudioPlayer] unplayable format 5000000 Hz 2 ch 32 bit (sample rate)\n"), 1u);

  EXPECT_TRUE(player.configure(media::AudioFormat()));
  EXPECT_TRUE(player.opened());
  EXPECT_EQ(log.count("[AudioPlayer] started 48000 Hz 2 ch 32 bit float\n"), 1u);
}

// A device call that fails (the seam stands in for an unplugged or invalidated device, and for
// any other failing call) and a change of the default device: each time the render thread opens
// the default device again within a second, the tone goes on, and the queue keeps its bounds.
TEST(AudioPlayerDeviceLoss, ReopensWithinASecondAndTheToneGoesOn) {
  testsupport::LogCapture log;
  media::AudioPlayer player;
  ASSERT_TRUE(player.configure(media::AudioFormat()));
  SinkRecording recording(3.0);
  ASSERT_TRUE(recording.started());
  std::size_t most = 0;
  std::thread pusher([&] {
    pushToneWhileRecording(player, recording, [&](std::int64_t first, int frames) {
      most = std::max(most, player.queuedBytes());
      return floatStereoTone(first, frames);
    });
  });

  const std::pair<const char*, long> losses[] = {
      {"[AudioPlayer] device lost 0x88890004, reopening\n", AUDCLNT_E_DEVICE_INVALIDATED},
      {"[AudioPlayer] device lost 0x80004005, reopening\n", E_FAIL},
      {"[AudioPlayer] default device changed, reopening\n", 0}};
  std::size_t starts = 1;
  for (const auto& [line, failure] : losses) {
    std::this_thread::sleep_for(600ms);
    Clock::time_point lostAt = Clock::now();
    if (failure != 0) {
      player.failNextDeviceCall(failure);
    } else {
      player.followDefaultDevice();
    }
    EXPECT_TRUE(log.waitForCount(line, 1, 1000ms)) << line;
    EXPECT_TRUE(log.waitForCount("[AudioPlayer] started 48000 Hz 2 ch 32 bit float\n", ++starts, 1000ms))
        << "not reopened within 1 s after: " << line;
    std::printf("reopened %lld ms after: %s", static_cast<long long>((Clock::now() - lostAt) / 1ms), line);
  }
  pusher.join();
  std::vector<float> samples = recording.samples();
  player.stop();

  EXPECT_LE(most, 46080u) << "120 ms at most, also while reopening";
  testsupport::ToneAnalysis tone = analyse(samples, 0);
  ASSERT_TRUE(tone.sound);
  EXPECT_NEAR(tone.frequencyHz, kTone, kTone * 0.01);
  EXPECT_LT(tone.longestGapMs, 1000.0);
  std::size_t lastQuarter = samples.size() * 3 / 4 / 2 * 2;  // sound after the last reopen
  EXPECT_TRUE(analyse(std::vector<float>(samples.begin() + std::ptrdiff_t(lastQuarter), samples.end()), 0).sound);
  std::printf("across three reopens: longest gap %.1f ms, silence %.1f ms in %.2f s\n", tone.longestGapMs,
              tone.silentMs, tone.seconds);
}

// The device cannot be opened when the format arrives (busy in exclusive mode for the seam's
// first five attempts): the player keeps trying, one line for the first failure only, holds at
// most 120 ms meanwhile, and plays the tone from the first attempt that succeeds, with no new
// format message.
TEST(AudioPlayerDeviceLoss, PlaysOnceABusyDeviceOpens) {
  testsupport::LogCapture log;
  media::AudioPlayer player;
  player.failDeviceOpens(5, AUDCLNT_E_DEVICE_IN_USE);
  Clock::time_point configured = Clock::now();
  EXPECT_TRUE(player.configure(media::AudioFormat()));
  EXPECT_EQ(log.count("[AudioPlayer] IAudioClient::Initialize failed 0x8889000a\n"), 1u);

  const int frames = kRate / 100;
  std::int64_t sent = 0;
  std::size_t most = 0;
  for (int n = 0; n < 300 && log.count("[AudioPlayer] started") == 0; n++, sent += frames) {
    std::vector<std::uint8_t> piece = floatStereoTone(sent, frames);
    player.push(piece.data(), piece.size());
    most = std::max(most, player.queuedBytes());
    std::this_thread::sleep_until(configured + (n + 1) * 10ms);
  }
  ASSERT_EQ(log.count("[AudioPlayer] started 48000 Hz 2 ch 32 bit float\n"), 1u) << "never opened";
  std::printf("opened %lld ms after the format, after 5 refused attempts\n",
              static_cast<long long>((Clock::now() - configured) / 1ms));
  EXPECT_EQ(log.count("[AudioPlayer] IAudioClient::Initialize failed"), 1u);
  EXPECT_LE(most, 46080u);

  SinkRecording recording(1.0);
  ASSERT_TRUE(recording.started());
  pushToneWhileRecording(player, recording,
                         [&](std::int64_t first, int count) { return floatStereoTone(sent + first, count); });
  testsupport::ToneAnalysis tone = analyse(recording.samples(), 0);
  ASSERT_TRUE(tone.sound);
  EXPECT_NEAR(tone.frequencyHz, kTone, kTone * 0.01);
  EXPECT_LE(tone.longestGapMs, 50.0);
}

// The sound server's default sink moves to a second null sink while the tone plays: the tone is
// heard on the new sink's monitor, whether the player reopened on a notification or the server
// moved its stream (Wine 8 sends no default-device notification; PulseAudio moves the stream).
TEST(AudioPlayerDeviceLoss, FollowsTheSoundServersNewDefaultSink) {
  const std::string sink = "brindle_second_" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(runShell("pactl load-module module-null-sink sink_name=" + sink + " > /tmp/" + sink + ".module"));
  struct Restore {
    std::string sink;
    ~Restore() {
      runShell("pactl set-default-sink auto_null; pactl unload-module $(cat /tmp/" + sink + ".module); rm -f /tmp/" +
               sink + ".module");
    }
  } restore{sink};

  testsupport::LogCapture log;
  media::AudioPlayer player;
  ASSERT_TRUE(player.configure(media::AudioFormat()));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(runShell("pactl set-default-sink " + sink));
  bool reopened = log.waitForCount("[AudioPlayer] started", 2, 1500ms);
  std::printf("after the switch the player %s\n", reopened ? "reopened" : "did not reopen");
  SinkRecording recording(1.0, sink + ".monitor");
  ASSERT_TRUE(recording.started());
  pushToneWhileRecording(player, recording, floatStereoTone);
  testsupport::ToneAnalysis tone = analyse(recording.samples(), 0);
  EXPECT_TRUE(tone.sound);
  EXPECT_NEAR(tone.frequencyHz, kTone, kTone * 0.01);
}

TEST(AudioPlayerRenderLoop, WaitsForTheDeviceAndStopsPromptly) {
  media::AudioPlayer player;
  ASSERT_TRUE(player.configure(media::AudioFormat()));

  // About a second idle: the loop wakes per device period (or every 100 ms), never spins.
  std::this_thread::sleep_for(1000ms);
  std::uint64_t passes = player.renderPasses();
  std::printf("render passes in 1 s: %llu\n", static_cast<unsigned long long>(passes));
  EXPECT_GE(passes, 5u);
  EXPECT_LE(passes, 400u);

  // The buffer event wakes the loop at once; stop does not wait out a 100 ms time-out.
  std::vector<std::uint8_t> bytes(3840, 0);
  player.push(bytes.data(), bytes.size());
  Clock::time_point start = Clock::now();
  player.stop();
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  std::printf("stop took %lld ms\n", static_cast<long long>(took.count()));
  EXPECT_LT(took.count(), 500);
  EXPECT_FALSE(player.opened());
  EXPECT_EQ(player.queuedBytes(), 0u);
}

}  // namespace
