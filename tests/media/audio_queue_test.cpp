// The audio player's portable half: queue trimming, the jitter buffer, taking for the device,
// silence fill, and
// the device format worked out from what the phone announced.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "media/audio_player_format.h"
#include "media/audio_player_queue.h"

namespace {

std::vector<std::uint8_t> counting(std::size_t n, std::uint32_t first = 0) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; i++) bytes[i] = static_cast<std::uint8_t>((first + i) * 7 + (first + i) / 251);
  return bytes;
}

media::AudioQueueLimits defaultLimits() { return media::audioQueueLimits(8, 48000); }

TEST(AudioQueue, DefaultFormatKeepsFortyOfAHundredTwentyMilliseconds) {
  media::AudioQueueLimits limits = defaultLimits();
  EXPECT_EQ(limits.keep, 15360u);
  EXPECT_EQ(limits.limit, 46080u);
  EXPECT_EQ(limits.start, 23040u);

  // 50,000 bytes into an empty queue: the newest 15,360 remain, in order.
  std::vector<std::uint8_t> queue;
  std::vector<std::uint8_t> pushed = counting(50000);
  media::appendAudio(queue, pushed.data(), pushed.size(), limits);
  ASSERT_EQ(queue.size(), 15360u);
  EXPECT_TRUE(std::equal(queue.begin(), queue.end(), pushed.end() - 15360));

  // Exactly the limit is kept whole; one byte more trims.
  queue.clear();
  pushed = counting(46080);
  media::appendAudio(queue, pushed.data(), pushed.size(), limits);
  EXPECT_EQ(queue, pushed);
  std::uint8_t one = 0xAB;
  media::appendAudio(queue, &one, 1, limits);
  ASSERT_EQ(queue.size(), 15360u);
  EXPECT_EQ(queue.back(), 0xAB);
  EXPECT_TRUE(std::equal(queue.begin(), queue.end() - 1, pushed.end() - 15359));

  // Zero bytes change nothing, even with a null pointer.
  std::vector<std::uint8_t> before = queue;
  media::appendAudio(queue, nullptr, 0, limits);
  EXPECT_EQ(queue, before);
}

TEST(AudioQueue, TrimKeepsTheNewestBytesAcrossManyPushes) {
  media::AudioQueueLimits limits = defaultLimits();
  std::vector<std::uint8_t> queue;
  std::vector<std::uint8_t> all;
  // Pushes of varied sizes, small and larger than the limit, against a model of "newest bytes".
  const std::size_t sizes[] = {3840, 1, 7, 40000, 3840, 100000, 12, 46080, 5000, 3840, 3840, 3840};
  std::uint32_t next = 0;
  for (std::size_t size : sizes) {
    std::vector<std::uint8_t> bytes = counting(size, next);
    next += static_cast<std::uint32_t>(size);
    all.insert(all.end(), bytes.begin(), bytes.end());
    std::size_t expected = queue.size() + size > limits.limit ? limits.keep : queue.size() + size;
    media::appendAudio(queue, bytes.data(), bytes.size(), limits);
    ASSERT_EQ(queue.size(), expected);
    ASSERT_LE(queue.size(), limits.limit);
    EXPECT_TRUE(std::equal(queue.begin(), queue.end(), all.end() - static_cast<std::ptrdiff_t>(queue.size())));
  }
}

TEST(AudioQueue, KeptPartStartsOnAFrameForEveryRate) {
  // 44,124 Hz at 8 bytes: 40 ms is 14,119.68 bytes, which would cut a frame.
  media::AudioQueueLimits limits = media::audioQueueLimits(8, 44124);
  EXPECT_EQ(limits.keep % 8, 0u);
  EXPECT_EQ(limits.keep, 14112u);
  for (std::uint32_t frame : {1u, 2u, 3u, 4u, 6u, 8u, 12u, 18u}) {
    for (std::uint32_t rate : {1u, 7u, 8000u, 11025u, 22050u, 44100u, 44124u, 48000u, 96001u, 384000u}) {
      media::AudioQueueLimits l = media::audioQueueLimits(frame, rate);
      EXPECT_EQ(l.keep % frame, 0u) << frame << " " << rate;
      EXPECT_EQ(l.start % frame, 0u) << frame << " " << rate;
      EXPECT_LE(l.keep, l.limit);
    }
  }
  EXPECT_EQ(media::audioQueueLimits(0, 48000).limit, 0u);
  EXPECT_EQ(media::audioQueueLimits(8, 0).limit, 0u);
}

TEST(AudioQueue, JitterBufferWaitsForSixtyMillisecondsAtStartAndAfterRunningDry) {
  media::AudioQueueLimits limits = defaultLimits();  // 8-byte frames, start at 23,040
  // One pass after another on the same state: queued bytes, bytes the device still holds and
  // room in its buffer, then what plays and whether it is playing afterwards.
  struct Pass {
    std::size_t queued, held, room, plays;
    bool playing;
    const char* what;
  };
  const Pass passes[] = {
      {23039, 0, 28800, 0, false, "below the cushion nothing plays, even with the device empty"},
      {23045, 0, 28800, 23040, true, "reached, with a partial frame on top: whole frames only"},
      {50000, 20000, 3843, 3840, true, "no more than the room"},
      {1001, 3840, 3840, 1000, true, "short queue but the device still sounds: no rebuffering"},
      {5, 3840, 3840, 0, true, "less than a frame plays nothing and stops nothing"},
      {3000, 0, 3840, 0, false, "the device ran out and the queue cannot fill it: silence"},
      {20000, 0, 3840, 0, false, "silence until the cushion is back"},
      {19200, 3840, 3840, 3840, true, "what the device holds counts towards the cushion"},
      {24000, 0, 28800, 24000, true, "dry again but a burst refilled the cushion: plays on"},
  };
  bool playing = false;
  for (const Pass& p : passes) {
    EXPECT_EQ(media::audioToPlay(p.queued, p.held, p.room, limits, playing), p.plays) << p.what;
    EXPECT_EQ(playing, p.playing) << p.what;
  }

  // No format: nothing ever plays.
  bool closed = false;
  EXPECT_EQ(media::audioToPlay(100000, 0, 3840, media::AudioQueueLimits{}, closed), 0u);
  EXPECT_FALSE(closed);
}

TEST(AudioQueue, TakeAndFillWriteOnlyTheDeviceBuffer) {
  std::vector<std::uint8_t> queue = counting(1000);
  std::vector<std::uint8_t> taken;

  // More queued than wanted: the oldest `want` bytes leave, the rest stay in order.
  media::takeAudio(queue, 600, taken);
  EXPECT_EQ(taken, counting(600));
  EXPECT_EQ(queue, counting(400, 600));

  // Fewer queued than wanted: all of it is taken and the queue is empty.
  media::takeAudio(queue, 600, taken);
  EXPECT_EQ(taken, counting(400, 600));
  EXPECT_TRUE(queue.empty());

  // A short take is written and the rest of the buffer is silence; exactly-sized block for ASan.
  std::unique_ptr<std::uint8_t[]> device(new std::uint8_t[600]);
  std::fill(device.get(), device.get() + 600, 0xCC);
  media::fillAudioBuffer(device.get(), 600, taken);
  EXPECT_TRUE(std::equal(taken.begin(), taken.end(), device.get()));
  EXPECT_TRUE(std::all_of(device.get() + 400, device.get() + 600, [](std::uint8_t b) { return b == 0; }));

  // More taken than fits: only the buffer's size is written.
  std::unique_ptr<std::uint8_t[]> small(new std::uint8_t[100]);
  media::fillAudioBuffer(small.get(), 100, taken);
  EXPECT_TRUE(std::equal(small.get(), small.get() + 100, taken.begin()));

  // Nothing taken: pure silence.
  media::takeAudio(queue, 600, taken);
  EXPECT_TRUE(taken.empty());
  media::fillAudioBuffer(device.get(), 600, taken);
  EXPECT_TRUE(std::all_of(device.get(), device.get() + 600, [](std::uint8_t b) { return b == 0; }));
}

TEST(AudioDeviceFormatTest, FieldsFollowThePhonesFormat) {
  media::AudioFormat stereo;
  media::AudioDeviceFormat d = media::audioDeviceFormat(stereo);
  EXPECT_EQ(d.channels, 2);
  EXPECT_EQ(d.samplesPerSec, 48000u);
  EXPECT_EQ(d.blockAlign, 8);
  EXPECT_EQ(d.avgBytesPerSec, 384000u);
  EXPECT_EQ(d.bitsPerSample, 32);
  EXPECT_EQ(d.channelMask, 3u);
  EXPECT_TRUE(d.isFloat);

  media::AudioFormat mono;
  mono.sampleRate = 44100;
  mono.channels = 1;
  mono.bitsPerSample = 16;
  mono.isFloat = false;
  mono.bytesPerFrame = 8;  // left at its default by a message without the key
  d = media::audioDeviceFormat(mono);
  EXPECT_EQ(d.channels, 1);
  EXPECT_EQ(d.blockAlign, 2);  // from bits and channels, never bytesPerFrame
  EXPECT_EQ(d.avgBytesPerSec, 88200u);
  EXPECT_EQ(d.channelMask, 4u);
  EXPECT_FALSE(d.isFloat);

  media::AudioFormat six = stereo;
  six.channels = 6;
  six.bitsPerSample = 24;
  EXPECT_EQ(media::audioDeviceFormat(six).channelMask, 3u);
  EXPECT_EQ(media::audioDeviceFormat(six).blockAlign, 18);

  // Only the low 16 bits of channels and bits enter, and 16-bit block align wraps.
  media::AudioFormat wide = stereo;
  wide.channels = 0x10002;
  EXPECT_EQ(media::audioDeviceFormat(wide).channels, 2);
  EXPECT_EQ(media::audioDeviceFormat(wide).blockAlign, 8);
  wide.channels = 0xFFFF;
  wide.bitsPerSample = 0xFFFF;
  EXPECT_EQ(media::audioDeviceFormat(wide).blockAlign, static_cast<std::uint16_t>((0xFFFFu * 0xFFFFu) / 8));
}

TEST(AudioDeviceFormatTest, SameFieldsAndUnplayableFormats) {
  media::AudioFormat a;
  media::AudioFormat b = a;
  b.bytesPerFrame = 4;
  b.bigEndian = true;
  EXPECT_TRUE(media::sameDeviceFields(a, b));
  b = a;
  b.nonInterleaved = true;
  EXPECT_FALSE(media::sameDeviceFields(a, b));
  b = a;
  b.isFloat = false;
  EXPECT_FALSE(media::sameDeviceFields(a, b));
  b = a;
  b.sampleRate = 44100;
  EXPECT_FALSE(media::sameDeviceFields(a, b));

  EXPECT_EQ(unplayableReason(a), nullptr);
  struct Case {
    int rate, channels, bits;
  } bad[] = {{0, 2, 32}, {-1, 2, 32}, {384001, 2, 32}, {48000, 0, 32}, {48000, -2, 32},
             {48000, 0x10000, 32}, {48000, 2, 0}, {48000, 1, 4}, {48000, 2, -16}};
  for (const Case& c : bad) {
    media::AudioFormat f;
    f.sampleRate = c.rate;
    f.channels = c.channels;
    f.bitsPerSample = c.bits;
    EXPECT_NE(unplayableReason(f), nullptr) << c.rate << " " << c.channels << " " << c.bits;
  }
  media::AudioFormat edge;
  edge.sampleRate = 384000;
  edge.channels = 1;
  edge.bitsPerSample = 8;
  EXPECT_EQ(unplayableReason(edge), nullptr);
}

}  // namespace
