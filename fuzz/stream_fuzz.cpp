// The phone's byte stream through the stream controller, cut into chunks at random.
//
// A frame parser fed the whole stream at once is the reference. Garbage where a hello or header
// belongs drops the rest of its chunk, so a chunked stream may pick up again sooner: the
// reference's frames must be a prefix of the chunked run's, and all of them when the reference
// read the stream to its end without dropping anything.
//
// Input: the stream, then 8 bytes that seed the chunk sizes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "receiver/frame_parser.h"
#include "receiver/protocol.h"
#include "receiver/stream_controller.h"

namespace {

using receiver::Frame;

// Stands in for a transport; the fuzz program plays its worker thread.
class ScriptedTransport : public transport::ITransport {
 public:
  explicit ScriptedTransport(int& hellosSent) : hellosSent_(hellosSent) {}
  bool start(transport::TransportSink& sink) override {
    sink_ = &sink;
    return true;
  }
  void stop() override {}
  bool send(std::span<const std::uint8_t> bytes) override {
    FUZZ_CHECK(std::ranges::equal(bytes, receiver::kClientHello));
    ++hellosSent_;
    return true;
  }
  void deliver(std::span<const std::uint8_t> bytes) { sink_->received(bytes); }
  void report(transport::State state) { sink_->transportState(state); }

 private:
  int& hellosSent_;
  transport::TransportSink* sink_ = nullptr;
};

// Keeps a copy of every frame.
struct Frames : receiver::StreamSink, std::vector<Frame> {
  void frame(const Frame& f) override { push_back(f); }
};

bool sameFrame(const Frame& a, const Frame& b) {
  return a.type == b.type && a.timestampUs == b.timestampUs && a.payload == b.payload;
}

bool isPrefix(const std::vector<Frame>& prefix, const std::vector<Frame>& whole) {
  return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin(), sameFrame);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::uint64_t seed = input.ConsumeIntegral<std::uint64_t>();
  const std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();

  // The reference: one chunk.
  Frames whole;
  receiver::FrameParser reference(whole);
  reference.feed(stream);
  std::uint64_t consumed = reference.helloReceived() ? receiver::kServerHelloSize : 0;
  for (const Frame& f : whole) {
    FUZZ_CHECK(f.payload.size() <= receiver::kMaxFramePayload);
    consumed += receiver::kFrameHeaderSize + f.payload.size();
  }
  // Every byte is accounted for by a hello, a frame or what is held back, unless some were dropped.
  const bool readToEnd = consumed + reference.bufferedBytes() == stream.size();
  FUZZ_CHECK(consumed + reference.bufferedBytes() <= stream.size());

  // The controller, in chunks of 1 to 2^k bytes.
  Frames chunked;
  int hellosSent = 0;
  receiver::StreamController controller(chunked);
  auto owned = std::make_unique<ScriptedTransport>(hellosSent);
  ScriptedTransport* transport = owned.get();
  controller.start(std::move(owned));
  transport->report(transport::State::Listening);
  transport->report(transport::State::Connected);
  const std::size_t limit = std::size_t(1) << (seed % 12);
  for (std::size_t at = 0; at < stream.size();) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    std::size_t n = std::min<std::size_t>(1 + (seed >> 33) % limit, stream.size() - at);
    transport->deliver(std::span<const std::uint8_t>(stream.data() + at, n));
    at += n;
  }

  FUZZ_CHECK(isPrefix(whole, chunked));
  if (readToEnd) FUZZ_CHECK(whole.size() == chunked.size());
  FUZZ_CHECK(hellosSent <= 1);
  if (reference.helloReceived()) FUZZ_CHECK(hellosSent == 1);
  receiver::StreamController::Stats stats = controller.stats();
  FUZZ_CHECK(stats.frames == chunked.size());
  FUZZ_CHECK(stats.keys == std::uint64_t(std::ranges::count_if(chunked, [](const Frame& f) {
               return f.type == receiver::kFrameVideoKey;
             })));
  FUZZ_CHECK(stats.bytes == stream.size());

  // A new connection starts from nothing: the whole stream again gives the reference's frames.
  const int hellosBefore = hellosSent;
  transport->report(transport::State::Listening);
  transport->report(transport::State::Connected);
  chunked.clear();
  transport->deliver(stream);
  FUZZ_CHECK(chunked.size() == whole.size() && isPrefix(whole, chunked));
  FUZZ_CHECK(hellosSent == hellosBefore + (reference.helloReceived() ? 1 : 0));
  controller.stop();
  return 0;
}
