// FrameParser against memcpy of the same bytes, fed in 64 KiB chunks:
//   realistic  - 1080p video frames of 20-200 KiB between 10 ms audio frames of 3,840 bytes
//   worst case - nothing but 40-byte frames
// and the two against each other per byte, round by round.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "receiver/frame_parser.h"
#include "support/bench_timer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void appendFrame(Bytes& out, std::uint8_t type, std::uint64_t ts, std::size_t size) {
  std::uint8_t header[20] = {'I', 'P', 'C', 'F', type};
  for (int i = 0; i < 8; ++i) header[8 + i] = std::uint8_t(ts >> (8 * (7 - i)));
  for (int i = 0; i < 4; ++i) header[16 + i] = std::uint8_t(size >> (8 * (3 - i)));
  out.insert(out.end(), header, header + 20);
  std::size_t at = out.size();
  out.resize(at + size);
  for (std::size_t i = 0; i < size; i += 64) out[at + i] = std::uint8_t(i);
}

Bytes realisticStream() {
  Bytes s = {'S', 'H', 'L', 'O', 0, 0, 0, 0};
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    appendFrame(s, i % 30 == 0 ? 2 : 1, i * 33333ull, 20 * 1024 + rng() % (180 * 1024));
    for (int a = 0; a < 3; ++a) appendFrame(s, 0x31, i * 33333ull + a * 10000, 3840);
  }
  return s;
}

Bytes worstStream() {
  Bytes s = {'S', 'H', 'L', 'O', 0, 0, 0, 0};
  while (s.size() < 32u * 1024 * 1024) appendFrame(s, 0x31, s.size(), 20);
  return s;
}

constexpr std::size_t kChunk = 64 * 1024;

// One pass of a parser over a whole stream, fed in chunks.
struct Parsing {
  explicit Parsing(const Bytes& bytes) : stream(bytes) {}
  // Sums what it is given, so the parsing cannot be optimised away.
  struct Sum : receiver::StreamSink {
    void frame(const receiver::Frame& f) override { total += f.payload.size() + f.type; }
    std::uint64_t total = 0;
  };
  void operator()() {
    parser.reset();
    for (std::size_t pos = 0; pos < stream.size(); pos += kChunk) {
      parser.feed(std::span<const std::uint8_t>(stream.data() + pos, std::min(kChunk, stream.size() - pos)));
    }
  }
  const Bytes& stream;
  Sum sink;
  receiver::FrameParser parser{sink};
};

// Parsing's time against memcpy of the same bytes in the same chunks.
double againstMemcpy(Parsing& parse) {
  Bytes destination(parse.stream.size());
  auto copy = [&] {
    for (std::size_t pos = 0; pos < parse.stream.size(); pos += kChunk) {
      const std::size_t n = std::min(kChunk, parse.stream.size() - pos);
      std::memcpy(destination.data() + pos, parse.stream.data() + pos, n);
    }
  };
  parse();  // warm up: the frame's buffer reaches its largest size
  copy();
  bench::Pair p = bench::sideBySide(15, parse, copy);
  if (parse.sink.total == 42 || destination[1] == 0xEE) std::printf(" ");  // keep the work observable
  return p.ratio();
}

}  // namespace

int main() {
  const Bytes realistic = realisticStream(), worst = worstStream();
  Parsing parseRealistic(realistic), parseWorst(worst);
  std::printf("realistic stream: %.2fx memcpy\n", againstMemcpy(parseRealistic));
  std::printf("40-byte frames: %.2fx memcpy\n", againstMemcpy(parseWorst));
  // The two streams alternate round by round, so that the machine's load weighs on both alike.
  const double perByte =
      bench::medianRatio(31, parseWorst, parseRealistic) * double(realistic.size()) / double(worst.size());
  std::printf("40-byte frames per byte vs realistic per byte: %.2fx\n", perByte);
  return 0;
}
