// Faults from outside, through the whole receive chain over USB (the USB mux emulator's tunnel,
// stream controller, decoder, frame ring): a phone that closes mid-frame, sends garbage, stalls
// or vanishes without closing, and every way the mux service can fail. Nothing may be lost beyond the damaged part:
// every frame the phone finished writing is counted, decoding goes on after the damage, and
// once a failing service is healthy again the chain streams without being restarted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/decode_pipeline_win.h"
#include "receiver/protocol.h"
#include "ring/frame_ring_format.h"
#include "ring/frame_ring_reader.h"
#include "session/session_win.h"
#include "support/wait.h"
#include "tools/phone_sim/phone_simulator.h"
#include "tools/usbmux_emulator/usbmux_emulator.h"
#include "transport/winsock_init_win.h"

namespace {

using namespace std::chrono_literals;
using phonesim::ConnectionRecord;
using transport::State;
using usbmuxemu::EmulatorOptions;
using usbmuxemu::Fault;

std::unique_ptr<phonesim::PhoneSimulator> startPhone(phonesim::SimulatorOptions options) {
  options.port = receiver::kStreamPort;
  options.clipPath = BRINDLE_CLIP_DIR "/clip_1280x720.264";
  options.fps = 60.0;
  auto phone = std::make_unique<phonesim::PhoneSimulator>(options);
  if (!phone->start()) return nullptr;
  return phone;
}

std::unique_ptr<usbmuxemu::UsbMuxEmulator> startService(const EmulatorOptions& options) {
  auto service = std::make_unique<usbmuxemu::UsbMuxEmulator>(options);
  if (!service->start()) return nullptr;
  return service;
}

std::uint64_t completeFrames(const ConnectionRecord& c) {
  std::uint64_t n = 0;
  for (const phonesim::SentFrame& f : c.frames) n += f.complete ? 1 : 0;
  return n;
}

// The newest picture's timestamp in the ring, 0 when there is none.
std::uint64_t newestPicture() {
  ring::FrameRingReader ring;
  if (!ring.open(ring::kFrameRingName)) return 0;
  ring::RingPicture p = ring.readLatest(0);
  return p.valid ? p.timestampUs : 0;
}

// Pictures published in the ring since the pipeline started, 0 when there is none.
std::uint64_t publishedPictures() {
  ring::FrameRingReader ring;
  if (!ring.open(ring::kFrameRingName)) return 0;
  ring::RingPicture p = ring.readLatest(0);
  return p.valid ? p.frameNumber : 0;
}

class SessionFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    transport::ensureWinsock();
    service_ = startService(EmulatorOptions{});
    ASSERT_TRUE(service_);
  }
  void TearDown() override {
    s_.stop();
    if (service_) service_->stop();
    if (phone_) phone_->stop();
  }

  // Streams until `connections` connections have begun, then checks what the ended ones
  // carried: every frame written whole was counted, and pictures kept coming after each end.
  void expectEndedConnectionsDelivered(std::size_t connections) {
    std::uint64_t lastPicture = 0;
    for (std::size_t k = 1; k <= connections; ++k) {
      ASSERT_TRUE(testsupport::waitUntil([&] { return phone_->connections().size() >= k; }, 15000ms)) << k;
      ASSERT_TRUE(testsupport::waitUntil([&] { return newestPicture() > lastPicture; }, 10000ms))
          << "pictures on connection " << k;
      lastPicture = newestPicture();
    }
    std::vector<ConnectionRecord> records = phone_->connections();
    std::uint64_t ended = 0;
    for (std::size_t k = 0; k + 1 < connections; ++k) ended += completeFrames(records[k]);
    EXPECT_TRUE(testsupport::waitUntil([&] { return s_.stats().frames >= ended; }, 5000ms))
        << s_.stats().frames << " frames counted, " << ended << " written whole before the last connection";
    s_.stop();
    records = phone_->connections();
    std::uint64_t all = 0;
    for (const ConnectionRecord& c : records) all += completeFrames(c);
    EXPECT_LE(s_.stats().frames, all) << "no frame counted that was not written whole";
  }

  // A phone with `options`, and the chain started over USB.
  void startChain(const phonesim::SimulatorOptions& options) {
    phone_ = startPhone(options);
    ASSERT_TRUE(phone_);
    s_.start(session::Link{});
  }

  // The record of the phone's one connection once it has sent every frame it was to send.
  bool waitForStreamDone(ConnectionRecord& record) {
    if (!testsupport::waitUntil(
            [&] { return phone_->connections().size() == 1 && phone_->connections()[0].streamDone; }, 20000ms)) {
      return false;
    }
    record = phone_->connections()[0];
    return true;
  }

  session::Session s_;
  std::unique_ptr<usbmuxemu::UsbMuxEmulator> service_;
  std::unique_ptr<phonesim::PhoneSimulator> phone_;
};

TEST_F(SessionFaultTest, PhoneClosingMidFrameLosesOnlyThatFrame) {
  phonesim::SimulatorOptions o;
  o.closeAfter = 150001;  // a cut that is no frame boundary
  ASSERT_NO_FATAL_FAILURE(startChain(o));
  expectEndedConnectionsDelivered(3);
  const std::vector<ConnectionRecord> records = phone_->connections();
  for (std::size_t k = 0; k < 2; ++k) {  // the third one ended when the chain stopped
    const ConnectionRecord& c = records[k];
    EXPECT_EQ(c.bytesSent, 150001u);
    EXPECT_FALSE(c.frames.back().complete) << "the cut fell inside a frame";
    EXPECT_TRUE(c.clientHello) << "the chain answered every connection's hello";
  }
}

TEST_F(SessionFaultTest, GarbageBeforeTheHelloCostsNothing) {
  phonesim::SimulatorOptions o;
  o.garbage = 13;  // arrives on its own, as a phone's stray bytes would
  o.garbagePauseMs = 300;
  o.closeAfter = 200000;
  ASSERT_NO_FATAL_FAILURE(startChain(o));
  expectEndedConnectionsDelivered(2);
  EXPECT_TRUE(phone_->connections()[0].clientHello);
}

TEST_F(SessionFaultTest, PhoneStallingMidFrameLosesNothingAndStopIsPrompt) {
  phonesim::SimulatorOptions o;
  o.stallAfter = 100001;
  o.stallMs = 2000;
  o.maxFrames = 90;
  ASSERT_NO_FATAL_FAILURE(startChain(o));
  ConnectionRecord c;
  ASSERT_TRUE(waitForStreamDone(c));
  EXPECT_TRUE(testsupport::waitUntil([&] { return s_.stats().frames == c.frames.size(); }, 5000ms))
      << s_.stats().frames << " of " << c.frames.size() << " frames";
  EXPECT_EQ(s_.stats().bytes, c.bytesSent);
  EXPECT_EQ(phone_->connections().size(), 1u) << "the stall cost no reconnect";
  EXPECT_TRUE(testsupport::waitUntil([&] { return s_.videoWorker()->idle(); }, 10000ms));
  // The frames the stall held back arrive late: skipped to stay live, but none lost.
  EXPECT_GE(s_.pipeline()->framesDecoded() + s_.stats().skipped + 4, c.videoFrames)
      << "at most the decoder's look-ahead is held back";
  s_.stop();
  phone_->stop();

  // Stopped in the middle of a long stall.
  o.stallMs = 60000;
  o.maxFrames = -1;
  ASSERT_NO_FATAL_FAILURE(startChain(o));
  ASSERT_TRUE(testsupport::waitUntil([&] { return s_.stats().bytes >= 100001; }, 10000ms));
  const auto t0 = std::chrono::steady_clock::now();
  s_.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
}

// A phone that leaves the network, sleeps or loses power closes nothing: its connection falls
// silent with the socket left open. Over the mux service's socket and its pipe, and over Wi-Fi,
// the chain drops it, reconnects and streams again, pictures reaching the ring, within 15 s.
TEST_F(SessionFaultTest, PhoneThatVanishesWithoutClosingIsDroppedAndStreamsAgain) {
  struct Case {
    const char* name;
    session::Link link;
    bool pipe;
  };
  const Case cases[] = {{"USB, service over TCP", {}, false},
                        {"USB, service over its pipe", {}, true},
                        {"Wi-Fi", {session::Link::Kind::Wifi, "127.0.0.1"}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_->stop();
    EmulatorOptions served;
    served.tcp = !c.pipe;
    served.pipe = c.pipe;
    service_ = startService(served);
    ASSERT_TRUE(service_);
    phonesim::SimulatorOptions o;
    o.silentAfter = 400000;  // a few key frames' worth: pictures reach the ring first
    phone_ = startPhone(o);
    ASSERT_TRUE(phone_);
    s_.start(c.link);

    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return !phone_->connections().empty() && phone_->connections()[0].silent; }, 15000ms));
    const auto silentAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(testsupport::waitUntil([&] { return newestPicture() != 0; }, 5000ms)) << "pictures before the silence";
    const std::uint64_t before = newestPicture();
    const bool again = testsupport::waitUntil(
        [&] { return phone_->connections().size() >= 2 && newestPicture() > before; }, 15000ms);
    EXPECT_TRUE(again) << "no pictures from a new connection within 15 s of the silence";
    if (again) {
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - silentAt).count();
      std::printf("%s: streaming again %.1f s after the phone fell silent\n", c.name, seconds);
      EXPECT_EQ(s_.state(), State::Connected);
    }

    const auto t0 = std::chrono::steady_clock::now();
    s_.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
    phone_->stop();
  }
}

// Every 20th video frame arrives with a damaged magic: the parser scans on to the next frame,
// so those frames alone are lost and at least 90% of the pictures are still published.
TEST_F(SessionFaultTest, DamagedMagicLosesOnlyTheDamagedFrames) {
  phonesim::SimulatorOptions o;
  o.damageEvery = 20;
  o.maxFrames = 240;
  ASSERT_NO_FATAL_FAILURE(startChain(o));
  ConnectionRecord c;
  ASSERT_TRUE(waitForStreamDone(c));
  ASSERT_EQ(c.damagedFrames, 12u);
  // On a busy machine the chain may still be catching up when the phone is done.
  EXPECT_TRUE(testsupport::waitUntil([&] { return s_.stats().frames == c.frames.size() - c.damagedFrames; }, 20000ms))
      << s_.stats().frames << " frames counted of " << c.frames.size() << " sent, " << c.damagedFrames << " damaged";
  std::uint64_t pictures = 0;
  testsupport::waitUntil(
      [&] {
        const std::uint64_t before = pictures;
        std::this_thread::sleep_for(300ms);
        pictures = publishedPictures();
        return pictures == before;
      },
      10000ms);
  std::printf("damaged magic every 20th frame: %llu pictures published for %llu video frames sent\n",
              static_cast<unsigned long long>(pictures), static_cast<unsigned long long>(c.videoFrames));
  // Frames skipped to stay live on a busy machine arrived whole: the parser lost none of them.
  const std::uint64_t skipped = s_.stats().skipped;
  std::printf("  of them %llu skipped to stay live\n", static_cast<unsigned long long>(skipped));
  EXPECT_GE((pictures + skipped) * 10, c.videoFrames * 9);
}

// Each failure for a while, then a healthy service: the same running chain connects and streams.
TEST_F(SessionFaultTest, EveryServiceFailureEndsWhenTheServiceIsHealthyAgain) {
  phone_ = startPhone({});
  ASSERT_TRUE(phone_);
  struct Case {
    const char* name;
    EmulatorOptions options;
    const char* request;  // the request the failure answers
  };
  std::vector<Case> cases;
  for (Fault f : {Fault::CloseEarly, Fault::BogusLength, Fault::HalfHeaderStall}) {
    EmulatorOptions list;
    list.listFault = f;
    list.bogusLength = 16777217;
    cases.push_back({"ListDevices", list, "ListDevices"});
  }
  for (Fault f : {Fault::CloseEarly, Fault::BogusLength, Fault::NoNumber, Fault::HalfHeaderStall}) {
    EmulatorOptions connect;
    connect.connectFault = f;
    connect.bogusLength = 15;
    cases.push_back({"Connect", connect, "Connect"});
  }
  EmulatorOptions rejecting;
  rejecting.rejectWith = 3;
  cases.push_back({"Connect rejected", rejecting, "Connect"});
  EmulatorOptions noPhone;
  noPhone.deviceIds = {};
  cases.push_back({"no phone", noPhone, "ListDevices"});

  service_->stop();
  s_.start(session::Link{});
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << ", case " << index++);
    auto failing = startService(c.options);
    ASSERT_TRUE(failing);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
          for (const usbmuxemu::MuxRequest& r : failing->requests()) {
            if (r.messageType == c.request) return true;
          }
          return false;
        },
        10000ms));
    std::this_thread::sleep_for(300ms);
    EXPECT_NE(s_.state(), State::Connected);
    EXPECT_EQ(failing->tunnels(), 0);
    failing->stop();

    auto healthy = startService(EmulatorOptions{});
    ASSERT_TRUE(healthy);
    const std::uint64_t before = s_.stats().frames, picture = newestPicture();
    EXPECT_TRUE(testsupport::waitUntil([&] { return s_.stats().frames > before + 10 && newestPicture() > picture; },
                                       15000ms))
        << "streaming again";
    healthy->stop();  // ends the tunnel too: the chain is back to trying
  }
}

}  // namespace
