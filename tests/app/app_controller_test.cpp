// App with a real Direct3D 11 device, real transports, decoder, ring and audio player; the phone
// simulator and the USB mux emulator stand in for the phone and Apple's service.
#include "app/app.h"

#include <d3d11.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app_probe.h"
#include "i18n/localizer.h"
#include "media/decoded_frame.h"
#include "ring/frame_ring_format.h"
#include "ring/frame_ring_reader.h"
#include "support/loopback_server.h"
#include "support/wait.h"
#include "tools/phone_sim/access_unit_splitter.h"
#include "tools/phone_sim/phone_simulator.h"
#include "tools/usbmux_emulator/usbmux_emulator.h"

namespace {

using namespace std::chrono_literals;
using transport::State;

const char* const kClip = BRINDLE_CLIP_DIR "/clip_1280x720.264";

receiver::Frame makeFrame(std::uint8_t type, const std::string& text) {
  receiver::Frame frame;
  frame.type = type;
  frame.payload.assign(text.begin(), text.end());
  return frame;
}

// A packed NV12 picture whose every byte is `fill`.
receiver::DecodedFrame makePicture(std::uint32_t width, std::uint32_t height, std::uint8_t fill) {
  receiver::DecodedFrame picture;
  picture.width = width;
  picture.height = height;
  picture.stride = width;
  picture.data.assign(std::size_t(width) * height + std::size_t(width) * (height / 2), fill);
  return picture;
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::startWinsock();
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                                   &device_, nullptr, &context_);
    ASSERT_TRUE(SUCCEEDED(hr)) << "no Direct3D 11 device (is DISPLAY set?): 0x" << std::hex << hr;
    app_ = std::make_unique<App>(device_, context_);
  }
  void TearDown() override {
    app_.reset();
    if (context_ != nullptr) context_->Release();
    if (device_ != nullptr) device_->Release();
  }

  AppProbe probe() { return AppProbe(*app_); }

  // After stop: the state reads Idle at once, the chain is gone, and it stays that way.
  void expectStoppedCleanly(AppProbe& p) {
    EXPECT_EQ(p.state(), State::Idle);
    EXPECT_FALSE(p.running());
    EXPECT_EQ(p.pipeline(), nullptr);
    EXPECT_EQ(p.audio(), nullptr);
  }

  ID3D11Device* device_ = nullptr;
  ID3D11DeviceContext* context_ = nullptr;
  std::unique_ptr<App> app_;
};

std::unique_ptr<phonesim::PhoneSimulator> startPhone(int rotation, bool mirror) {
  phonesim::SimulatorOptions options;
  options.port = kStreamPort;
  options.clipPath = kClip;
  options.rotation = rotation;
  options.mirror = mirror;
  options.fps = 60.0;
  auto phone = std::make_unique<phonesim::PhoneSimulator>(options);
  phone->onLog = [](const std::string& line) { std::printf("  phone: %s\n", line.c_str()); };
  if (!phone->start()) {
    ADD_FAILURE() << "the phone simulator did not start on port " << kStreamPort << " with " << kClip;
    return nullptr;
  }
  return phone;
}

std::unique_ptr<usbmuxemu::UsbMuxEmulator> startService() {
  usbmuxemu::EmulatorOptions options;
  options.deviceIds = {7};
  auto service = std::make_unique<usbmuxemu::UsbMuxEmulator>(options);
  service->onLog = [](const std::string& line) { std::printf("  service: %s\n", line.c_str()); };
  if (!service->start()) {
    ADD_FAILURE() << "the USB mux emulator did not start: " << service->error();
    return nullptr;
  }
  return service;
}

// ---------------------------------------------------------------------------------------------
// Construction

TEST(AppLanguageTest, IndexIsTheCatalogueEntryWhoseCodeEqualsTheCurrentLanguage) {
  const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
  ID3D11Device* device = nullptr;
  ID3D11DeviceContext* context = nullptr;
  ASSERT_TRUE(SUCCEEDED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1,
                                          D3D11_SDK_VERSION, &device, nullptr, &context)));
  struct Case {
    const char* code;
    int index;
  };
  // Exact byte comparison: a region suffix or another case is no match, and no match is English.
  const Case cases[] = {{"ja", 1}, {"zh-Hant", 3}, {"hi", 36}, {"xx", 0}, {"ja-JP", 0}, {"JA", 0}, {"en", 0}};
  for (const Case& c : cases) {
    i18n::Localizer::instance().setLanguage(c.code);
    App app(device, context);
    EXPECT_EQ(AppProbe(app).languageIndex(), c.index) << "language " << c.code;
  }
  i18n::Localizer::instance().setLanguage("en");
  context->Release();
  device->Release();
}

// ---------------------------------------------------------------------------------------------
// Callbacks

TEST_F(AppTest, OnlyTheNewestDecodedPictureWaitsAndEmptyOrShortOnesAreIgnored) {
  AppProbe p = probe();
  EXPECT_FALSE(p.waiting().ready);

  p.decoded(makePicture(4, 2, 0x11));
  p.decoded(makePicture(6, 4, 0x22));
  AppProbe::Waiting w = p.waiting();
  ASSERT_TRUE(w.ready);
  EXPECT_EQ(w.width, 6u);
  EXPECT_EQ(w.height, 4u);
  EXPECT_EQ(w.stride, 6u);
  EXPECT_EQ(w.data, std::vector<std::uint8_t>(6 * 4 + 6 * 2, 0x22)) << "the second replaces the first";

  receiver::DecodedFrame noWidth = makePicture(4, 2, 0x33);
  noWidth.width = 0;
  receiver::DecodedFrame noHeight = makePicture(4, 2, 0x44);
  noHeight.height = 0;
  receiver::DecodedFrame shortData = makePicture(8, 8, 0x55);
  shortData.data.resize(8 * 8 + 8 * 4 - 1);  // one byte short of its chroma plane
  p.decoded(noWidth);
  p.decoded(noHeight);
  p.decoded(shortData);
  w = p.waiting();
  EXPECT_TRUE(w.ready);
  EXPECT_EQ(w.width, 6u);
  EXPECT_EQ(w.height, 4u);
  EXPECT_EQ(w.data, std::vector<std::uint8_t>(6 * 4 + 6 * 2, 0x22)) << "the waiting picture is untouched";
}

TEST_F(AppTest, OrientationBecomesQuarterTurnsAndMirror) {
  AppProbe p = probe();
  p.start();  // the callback as installed on the pipeline
  ASSERT_NE(p.pipeline(), nullptr);
  struct Case {
    int degrees;
    int quarterTurns;
  };
  const Case cases[] = {{90, 1}, {180, 2}, {270, 3}, {360, 0}, {450, 1}, {45, 0}, {135, 1}, {-90, 3}, {0, 0},
                        {-450, 3}, {-45, 0}, {2147483647, 1}, {-2147483647 - 1, 3}};
  for (const Case& c : cases) {
    p.pipeline()->onOrientation(c.degrees, c.degrees % 2 != 0);
    EXPECT_EQ(p.rotation(), c.quarterTurns) << c.degrees << " degrees";
    EXPECT_EQ(p.mirror(), c.degrees % 2 != 0) << c.degrees << " degrees";
  }
  p.stop();
}

// ---------------------------------------------------------------------------------------------
// Routing by frame type

TEST_F(AppTest, RoutesAudioToThePlayerAndEverythingElseToThePipeline) {
  AppProbe p = probe();
  p.start();  // USB with no service: the chain exists, the transport keeps trying
  ASSERT_NE(p.pipeline(), nullptr);
  ASSERT_NE(p.audio(), nullptr);

  // 0x30: the format reaches the player, which opens the default output device.
  p.route(makeFrame(0x30, R"({"sr":44100,"ch":1,"bits":16,"float":false,"bytesPerFrame":2})"));
  ASSERT_TRUE(p.audio()->opened()) << "no audio output device: is a PulseAudio server running?";
  EXPECT_EQ(p.audio()->format().sampleRate, 44100);
  EXPECT_EQ(p.audio()->format().channels, 1);
  EXPECT_EQ(p.audio()->format().bitsPerSample, 16);
  EXPECT_FALSE(p.audio()->format().isFloat);

  // 0x31: 100 ms of samples are queued for the player.
  receiver::Frame samples;
  samples.type = 0x31;
  samples.payload.assign(8820, 0);
  std::size_t before = p.audio()->queuedBytes();
  p.route(samples);
  EXPECT_GT(p.audio()->queuedBytes(), before);

  // Every other type goes to the pipeline, never to the player: its queue only drains.
  for (int type = 0; type < 256; ++type) {
    if (type == 0x30 || type == 0x31) continue;
    receiver::Frame other;
    other.type = static_cast<std::uint8_t>(type);
    other.payload.assign(64, 0xAB);
    before = p.audio()->queuedBytes();
    p.route(other);
    EXPECT_LE(p.audio()->queuedBytes(), before) << "type " << type;
  }

  // 0x10 reaches the pipeline, which reads it and calls back with the orientation.
  p.route(makeFrame(0x10, R"({"rotation":270,"mirror":true})"));
  EXPECT_EQ(p.rotation(), 3);
  EXPECT_TRUE(p.mirror());

  // Video types 1 and 2 reach the decoder; its pictures come back into the hand-off slot.
  std::ifstream file(kClip, std::ios::binary);
  std::vector<std::uint8_t> clip((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<phonesim::AccessUnit> units = phonesim::splitAccessUnits(clip);
  ASSERT_GE(units.size(), 12u) << kClip;
  for (std::size_t i = 0; i < 12; ++i) {
    receiver::Frame video;
    video.type = units[i].isKey ? 2 : 1;
    video.timestampUs = i * 33333;
    video.payload.assign(clip.begin() + units[i].offset, clip.begin() + units[i].offset + units[i].size);
    p.route(video);
  }
  EXPECT_GT(p.pipeline()->framesDecoded(), 0u);
  AppProbe::Waiting w = p.waiting();
  ASSERT_TRUE(w.ready);
  EXPECT_EQ(w.width, 1280u);
  EXPECT_EQ(w.height, 720u);
  EXPECT_EQ(w.stride, 1280u);
  EXPECT_GE(w.data.size(), 1280u * 720u * 3 / 2);

  p.stop();
  expectStoppedCleanly(p);
  // Without a chain every frame is dropped quietly.
  p.route(makeFrame(0x30, R"({"sr":48000})"));
  p.route(samples);
  p.route(makeFrame(0x10, R"({"rotation":90})"));
  p.route(makeFrame(0x02, "not a picture"));
  EXPECT_EQ(p.rotation(), 3);
  EXPECT_EQ(p.audio(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Start and stop in every state the transport can be in

TEST_F(AppTest, StopRightAfterStartAndWhileListeningLeavesIdleForGood) {
  AppProbe p = probe();
  p.start();
  EXPECT_TRUE(p.running());
  p.stop();  // before the transport has said anything
  expectStoppedCleanly(p);

  p.start();  // USB with no service: the transport tries and reports Listening
  ASSERT_TRUE(testsupport::waitUntil([&] { return p.state() == State::Listening; }, 5000ms));
  p.stop();
  expectStoppedCleanly(p);
  // A leaked callback would report Listening again at the transport's next attempt (1.5 s on).
  std::this_thread::sleep_for(2000ms);
  EXPECT_EQ(p.state(), State::Idle);
}

TEST_F(AppTest, ErrorStateIsShownAndStopResetsIt) {
  AppProbe p = probe();
  p.reportState(State::Error);
  EXPECT_EQ(p.state(), State::Error);
  p.start();
  p.reportState(State::Error);
  p.stop();
  expectStoppedCleanly(p);
}

TEST_F(AppTest, WifiWithAnEmptyAddressStartsATransportThatReportsItsOwnState) {
  AppProbe p = probe();
  p.chooseWifi("");
  p.start();
  EXPECT_TRUE(p.running());
  ASSERT_NE(p.pipeline(), nullptr);
  EXPECT_TRUE(testsupport::waitUntil([&] { return p.state() != State::Idle; }, 5000ms))
      << "the Wi-Fi transport reports its attempts";
  EXPECT_NE(p.state(), State::Connected);
  p.stop();
  expectStoppedCleanly(p);
}

TEST_F(AppTest, UsbStreamReachesRingPreviewAndPlayerAndStopKeepsPictureAndStatistics) {
  auto phone = startPhone(90, true);
  ASSERT_TRUE(phone);
  auto service = startService();
  ASSERT_TRUE(service);

  AppProbe p = probe();
  p.start();
  ASSERT_TRUE(testsupport::waitUntil([&] { return p.state() == State::Connected; }, 10000ms));

  FrameRingReader ring;
  ASSERT_TRUE(testsupport::waitUntil([&] { return ring.open(kFrameRingName); }, 5000ms));
  RingPicture picture;
  ASSERT_TRUE(testsupport::waitUntil(
      [&] {
        picture = ring.readLatest(0);
        return picture.valid;
      },
      10000ms));
  EXPECT_EQ(picture.width, 1280u);
  EXPECT_EQ(picture.height, 720u);

  ASSERT_TRUE(testsupport::waitUntil([&] { return p.waiting().ready; }, 5000ms));
  EXPECT_EQ(p.waiting().width, 1280u);
  EXPECT_EQ(p.rotation(), 1) << "the phone's orientation message";
  EXPECT_TRUE(p.mirror());
  EXPECT_TRUE(testsupport::waitUntil([&] { return p.audio()->opened(); }, 5000ms))
      << "the phone's audio format opens the player";
  EXPECT_EQ(service->tunnels(), 1);

  p.stop();
  expectStoppedCleanly(p);
  receiver::StreamController::Stats atStop = p.stats();
  EXPECT_GT(atStop.frames, 0u);
  EXPECT_GT(atStop.keys, 0u);
  std::this_thread::sleep_for(500ms);
  receiver::StreamController::Stats later = p.stats();
  EXPECT_EQ(later.frames, atStop.frames) << "no frame is counted after stop";
  EXPECT_EQ(later.bytes, atStop.bytes);
  EXPECT_EQ(p.state(), State::Idle);
  AppProbe::Waiting w = p.waiting();
  EXPECT_TRUE(w.ready) << "the last picture stays for the preview";
  EXPECT_EQ(w.width, 1280u);
  EXPECT_TRUE(testsupport::waitUntil(
      [&] {
        std::vector<phonesim::ConnectionRecord> c = phone->connections();
        return !c.empty() && c.back().closed;
      },
      5000ms))
      << "stop closes the tunnel";

  service->stop();
  phone->stop();
}

TEST_F(AppTest, WifiStreamConnectsAndAStartWhileRunningRestartsTheChain) {
  auto phone = startPhone(0, false);
  ASSERT_TRUE(phone);

  AppProbe p = probe();
  p.chooseWifi("127.0.0.1");
  p.start();
  ASSERT_TRUE(testsupport::waitUntil([&] { return p.state() == State::Connected; }, 10000ms));
  ASSERT_TRUE(testsupport::waitUntil([&] { return p.stats().frames > 10; }, 10000ms));

  // A second start replaces the chain only after the running one has stopped.
  p.start();
  EXPECT_TRUE(p.running());
  ASSERT_TRUE(testsupport::waitUntil([&] { return phone->connections().size() >= 2; }, 10000ms));
  ASSERT_TRUE(testsupport::waitUntil([&] { return p.stats().frames > 10; }, 10000ms));
  EXPECT_TRUE(testsupport::waitUntil([&] { return p.waiting().ready; }, 5000ms));
  std::vector<phonesim::ConnectionRecord> connections = phone->connections();
  EXPECT_TRUE(connections[0].closed);
  EXPECT_TRUE(connections[0].clientHello);
  EXPECT_TRUE(connections[1].clientHello);

  p.stop();
  expectStoppedCleanly(p);
  phone->stop();
}

}  // namespace
