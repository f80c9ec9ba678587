// The receive chain without Direct3D or Dear ImGui: the real stream controller, decoder, frame
// ring and audio player, fed by a transport the test plays, or by the real transports talking
// to the phone simulator and the USB mux emulator.
#include "session/session_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/steady_clock.h"
#include "support/clip_units.h"
#include "media/audio_player_win.h"
#include "media/decode_pipeline_win.h"
#include "receiver/protocol.h"
#include "ring/frame_ring_format.h"
#include "ring/frame_ring_reader.h"
#include "session/video_worker.h"
#include "support/fake_transport.h"
#include "support/log_capture.h"
#include "support/loopback_server_win.h"
#include "support/no_h264_decoder_win.h"
#include "support/stream_bytes.h"
#include "support/wait.h"
#include "tools/phone_sim/phone_simulator.h"
#include "tools/usbmux_emulator/usbmux_emulator.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Bytes;
using testsupport::FakeTransport;
using testsupport::frameBytes;
using transport::State;

const char* const kClip = BRINDLE_CLIP_DIR "/clip_1280x720.264";

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Plays the clip's frame `i` as a phone on time would, stamped with the local clock, and waits
// until the video thread has decoded it, so the pictures can be compared as they come.
void playFrame(session::Session& s, FakeTransport& phone, const decodertest::Clip& clip, std::size_t i) {
  const receiver::Frame f = clip.frame(i, i);
  phone.deliver(frameBytes(f.type, std::uint64_t(steadyNowNs() / 1000), f.payload));
  EXPECT_TRUE(testsupport::waitUntil([&] { return s.videoWorker()->idle(); }, 10000ms)) << "frame " << i;
}

// After stop: the state reads Idle at once and the chain is gone.
void expectStopped(const session::Session& s) {
  EXPECT_EQ(s.state(), State::Idle);
  EXPECT_FALSE(s.running());
  EXPECT_EQ(s.pipeline(), nullptr);
  EXPECT_EQ(s.audioPlayer(), nullptr);
  EXPECT_EQ(s.videoWorker(), nullptr);
}

// A stream the test plays, started on a fresh session.
struct Played {
  FakeTransport::Log log;
  FakeTransport* transport = nullptr;
  explicit Played(session::Session& s) {
    auto t = std::make_unique<FakeTransport>(log);
    transport = t.get();
    s.start(std::move(t));
  }
};

TEST(Session, EachFrameTypeReachesItsPartOfTheChain) {
  const decodertest::Clip clip = decodertest::loadClip("clip_1280x720.264", BRINDLE_CLIP_DIR);
  ASSERT_EQ(clip.units.size(), 60u) << kClip;
  session::Session s;
  Played played(s);
  FakeTransport& phone = *played.transport;
  ASSERT_NE(s.pipeline(), nullptr);
  ASSERT_NE(s.audioPlayer(), nullptr);
  EXPECT_EQ(played.log.starts, 1);

  phone.report(State::Connected);
  EXPECT_EQ(s.state(), State::Connected);
  phone.deliver(testsupport::serverHello());
  EXPECT_EQ(played.log.sent.size(), 1u) << "the client hello";

  // 0x30 opens the player in the phone's format; 0x31 queues 100 ms of it.
  phone.deliver(frameBytes(0x30, 0, text(R"({"sr":44100,"ch":1,"bits":16,"float":false,"bytesPerFrame":2})")));
  ASSERT_TRUE(s.audioPlayer()->opened()) << "no audio output device: is a PulseAudio server running?";
  EXPECT_EQ(s.audioPlayer()->format().sampleRate, 44100);
  EXPECT_EQ(s.audioPlayer()->format().channels, 1);
  phone.deliver(frameBytes(0x31, 0, Bytes(8820, 0)));
  EXPECT_GT(s.audioPlayer()->queuedBytes(), 0u);

  // 0x10 turns the preview.
  phone.deliver(frameBytes(0x10, 0, text(R"({"rotation":270,"mirror":true})")));
  EXPECT_EQ(s.orientation().rotation.load(), 3);
  EXPECT_TRUE(s.orientation().mirror.load());

  // A key frame under any type but 1, 2 and 3 never reaches the decoder.
  for (std::uint8_t type : {0x00, 0x04, 0x11, 0x32, 0xFF}) {
    for (int repeat = 0; repeat < 3; ++repeat) phone.deliver(frameBytes(type, 0, clip.unit(0)));
  }
  EXPECT_EQ(s.pipeline()->framesDecoded(), 0u);

  // Types 1 and 2 are decoded; the pictures reach the ring and the hand-off.
  for (std::size_t i = 0; i < 12; ++i) playFrame(s, phone, clip, i);
  EXPECT_GT(s.pipeline()->framesDecoded(), 0u);
  media::DecodedFrame picture;
  ASSERT_TRUE(s.pictures().take(picture));
  EXPECT_EQ(picture.width, 1280u);
  EXPECT_EQ(picture.height, 720u);
  EXPECT_EQ(picture.stride, 1280u);
  EXPECT_EQ(picture.data.size(), 1280u * 720u * 3 / 2);
  ring::FrameRingReader ring;
  ASSERT_TRUE(ring.open(ring::kFrameRingName));
  ring::RingPicture published = ring.readLatest(0);
  ASSERT_TRUE(published.valid);
  EXPECT_EQ(published.width, 1280u);
  EXPECT_EQ(published.timestampUs, std::uint64_t(picture.timestampUs));

  const receiver::StreamStats stats = s.stats();
  EXPECT_EQ(stats.frames, 3u + 15u + 12u);
  EXPECT_EQ(stats.keys, 1u);
  EXPECT_EQ(stats.skipped, 0u) << "frames on time are all decoded";

  s.stop();
  expectStopped(s);
  EXPECT_TRUE(played.log.destroyed);
  EXPECT_EQ(s.stats().frames, stats.frames) << "statistics stay after stop";
}

TEST(Session, TheCameraGetsThePreviewsTurnOnlyWhileItFollows) {
  const decodertest::Clip clip = decodertest::loadClip("clip_1280x720.264", BRINDLE_CLIP_DIR);
  ASSERT_EQ(clip.units.size(), 60u) << kClip;
  session::Session s;
  Played played(s);
  played.transport->deliver(testsupport::serverHello());
  ring::FrameRingReader ring;
  ASSERT_TRUE(ring.open(ring::kFrameRingName));
  s.orientation().rotation.store(1);
  s.orientation().mirror.store(true);
  std::size_t next = 0;
  // Decodes a few more frames, then compares the hand-off's picture with the ring's newest.
  auto decodeSome = [&](std::uint32_t width, std::uint32_t height, pixels::Turn turned) {
    for (std::size_t end = next + 8; next < end; ++next) playFrame(s, *played.transport, clip, next);
    media::DecodedFrame picture;
    ASSERT_TRUE(s.pictures().take(picture));
    EXPECT_EQ(picture.width, width);
    EXPECT_EQ(picture.height, height);
    EXPECT_TRUE(pixels::sameTurn(picture.turned, turned));
    ring::RingPicture published = ring.readLatest(0);
    ASSERT_TRUE(published.valid);
    EXPECT_EQ(published.width, width);
    EXPECT_EQ(published.height, height);
    EXPECT_EQ(published.timestampUs, std::uint64_t(picture.timestampUs));
    ASSERT_EQ(published.size, picture.data.size());
    EXPECT_EQ(std::memcmp(published.pixels.get(), picture.data.data(), published.size), 0);
  };
  decodeSome(1280, 720, pixels::Turn());  // off at start: published as decoded
  s.orientation().follow.store(true);
  decodeSome(720, 1280, {1, true, false});
  s.orientation().follow.store(false);
  decodeSome(1280, 720, pixels::Turn());
  s.stop();
}

TEST(Session, ReportedStatesAreShownAndStopResetsThemToIdle) {
  session::Session s;
  for (State state : {State::Error, State::Listening, State::Connected, static_cast<State>(7)}) {
    Played played(s);
    played.transport->report(state);
    EXPECT_EQ(s.state(), state);
    s.stop();
    expectStopped(s);
  }
}

TEST(Session, StopRightAfterStartAndWhileListeningLeavesIdleForGood) {
  session::Session s;
  s.start(session::Link{});
  EXPECT_TRUE(s.running());
  s.stop();  // before the transport has said anything
  expectStopped(s);

  s.start(session::Link{});  // USB with no service: the transport tries and reports Listening
  ASSERT_TRUE(testsupport::waitUntil([&] { return s.state() == State::Listening; }, 5000ms));
  s.stop();
  expectStopped(s);
  // A leaked callback would report Listening again at the transport's next attempt (1.5 s on).
  std::this_thread::sleep_for(2000ms);
  EXPECT_EQ(s.state(), State::Idle);
}

TEST(Session, WifiWithAnEmptyAddressStartsATransportThatReportsItsOwnState) {
  testsupport::startWinsock();
  session::Session s;
  s.start(session::Link{session::Link::Kind::Wifi, ""});
  EXPECT_TRUE(s.running());
  EXPECT_TRUE(testsupport::waitUntil([&] { return s.state() != State::Idle; }, 5000ms))
      << "the Wi-Fi transport reports its attempts";
  EXPECT_NE(s.state(), State::Connected);
  s.stop();
  expectStopped(s);
}

std::unique_ptr<phonesim::PhoneSimulator> startPhone(int rotation, bool mirror) {
  phonesim::SimulatorOptions options;
  options.port = receiver::kStreamPort;
  options.clipPath = kClip;
  options.rotation = rotation;
  options.mirror = mirror;
  options.fps = 60.0;
  auto phone = std::make_unique<phonesim::PhoneSimulator>(options);
  phone->onLog = [](const std::string& line) { std::printf("  phone: %s\n", line.c_str()); };
  if (!phone->start()) {
    ADD_FAILURE() << "the phone simulator did not start on port " << receiver::kStreamPort << " with " << kClip;
    return nullptr;
  }
  return phone;
}

bool lastConnectionClosed(const phonesim::PhoneSimulator& phone) {
  std::vector<phonesim::ConnectionRecord> c = phone.connections();
  return !c.empty() && c.back().closed;
}

TEST(Session, UsbStreamReachesRingPreviewAndPlayerAndStopKeepsPictureAndStatistics) {
  testsupport::startWinsock();
  auto phone = startPhone(90, true);
  ASSERT_TRUE(phone);
  usbmuxemu::EmulatorOptions options;
  options.deviceIds = {7};
  usbmuxemu::UsbMuxEmulator service(options);
  ASSERT_TRUE(service.start()) << service.error();

  session::Session s;
  s.start(session::Link{});
  ASSERT_TRUE(testsupport::waitUntil([&] { return s.state() == State::Connected; }, 10000ms));
  ring::FrameRingReader ring;
  ASSERT_TRUE(testsupport::waitUntil([&] { return ring.open(ring::kFrameRingName) && ring.readLatest(0).valid; }, 10000ms));
  EXPECT_EQ(ring.readLatest(0).width, 1280u);
  EXPECT_EQ(ring.readLatest(0).height, 720u);
  EXPECT_TRUE(testsupport::waitUntil([&] { return s.audioPlayer()->opened(); }, 5000ms))
      << "the phone's audio format opens the player";
  EXPECT_TRUE(testsupport::waitUntil([&] { return s.audioPlayer()->queuedBytes() > 0; }, 5000ms))
      << "the phone's samples reach the player";
  EXPECT_EQ(s.orientation().rotation.load(), 1) << "the phone's orientation message";
  EXPECT_TRUE(s.orientation().mirror.load());
  EXPECT_EQ(service.tunnels(), 1);

  s.stop();
  expectStopped(s);
  const receiver::StreamStats atStop = s.stats();
  EXPECT_GT(atStop.frames, 0u);
  EXPECT_GT(atStop.keys, 0u);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(s.stats().frames, atStop.frames) << "no frame is counted after stop";
  EXPECT_EQ(s.stats().bytes, atStop.bytes);
  EXPECT_EQ(s.state(), State::Idle);
  media::DecodedFrame last;
  EXPECT_TRUE(s.pictures().take(last)) << "the last picture stays for the preview";
  EXPECT_EQ(last.width, 1280u);
  EXPECT_TRUE(testsupport::waitUntil([&] { return lastConnectionClosed(*phone); }, 5000ms)) << "stop closes the tunnel";

  service.stop();
  phone->stop();
}

TEST(Session, WifiStreamConnectsAndAStartWhileRunningRestartsTheChain) {
  testsupport::startWinsock();
  auto phone = startPhone(0, false);
  ASSERT_TRUE(phone);

  session::Session s;
  const session::Link wifi{session::Link::Kind::Wifi, "127.0.0.1"};
  s.start(wifi);
  ASSERT_TRUE(testsupport::waitUntil([&] { return s.state() == State::Connected; }, 10000ms));
  ASSERT_TRUE(testsupport::waitUntil([&] { return s.stats().frames > 10; }, 10000ms));

  // A second start replaces the chain only after the running one has stopped.
  s.start(wifi);
  EXPECT_TRUE(s.running());
  ASSERT_TRUE(testsupport::waitUntil([&] { return phone->connections().size() >= 2; }, 10000ms));
  ASSERT_TRUE(testsupport::waitUntil([&] { return s.stats().frames > 10; }, 10000ms));
  media::DecodedFrame picture;
  EXPECT_TRUE(testsupport::waitUntil([&] { return s.pictures().take(picture); }, 5000ms));
  std::vector<phonesim::ConnectionRecord> connections = phone->connections();
  EXPECT_TRUE(connections[0].closed);
  EXPECT_TRUE(connections[0].clientHello);
  EXPECT_TRUE(connections[1].clientHello);

  s.stop();
  expectStopped(s);
  phone->stop();
}

// What a user's machine may hold when streaming starts: a section of the ring's name made
// smaller beforehand, an object of another kind with that name, no H.264 decoder. Each time
// the chain keeps receiving, logs one line saying why, and the preview works where the
// decoder does.
TEST(Session, AChainThatCannotReachTheCameraOrDecodeSaysWhyAndKeepsReceiving) {
  const decodertest::Clip clip = decodertest::loadClip("clip_1280x720.264", BRINDLE_CLIP_DIR);
  ASSERT_EQ(clip.units.size(), 60u) << kClip;
  const std::string ringName = std::string(ring::kFrameRingNamespace) + ring::kFrameRingName;
  testsupport::LogCapture log;
  auto play = [&](ring::RingFault fault, bool decoderMissing, const char* line) {
    log.clear();
    session::Session s;
    Played played(s);
    EXPECT_EQ(s.ringFault(), fault);
    EXPECT_EQ(s.decoderMissing(), decoderMissing);
    EXPECT_EQ(log.count(line), 1u) << line;
    EXPECT_EQ(log.count("[Session]"), 1u);
    played.transport->report(State::Connected);
    played.transport->deliver(testsupport::serverHello());
    for (std::size_t i = 0; i < 12; ++i) playFrame(s, *played.transport, clip, i);
    EXPECT_EQ(s.stats().frames, 12u);
    media::DecodedFrame picture;
    EXPECT_EQ(s.pictures().take(picture), !decoderMissing);
    s.stop();
    EXPECT_EQ(s.ringFault(), ring::RingFault::None);
    EXPECT_FALSE(s.decoderMissing());
  };

  HANDLE small = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, ringName.c_str());
  ASSERT_NE(small, nullptr);
  play(ring::RingFault::OtherRing, false, "[Session] the camera gets no pictures: a section of its name");
  CloseHandle(small);

  HANDLE mutex = CreateMutexA(nullptr, FALSE, ringName.c_str());
  ASSERT_NE(mutex, nullptr);
  play(ring::RingFault::NameTaken, false, "[Session] the camera gets no pictures: another kind of object");
  CloseHandle(mutex);

  testsupport::NoH264Decoder none;
  play(ring::RingFault::None, true, "[Session] no H.264 decoder could be started");
}

}  // namespace
