// ring_child: the child program of the cross-process ring tests; its verbs are in ring_child_win.h.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pixels/nv12_view.h"
#include "support/clip_units.h"
#include "media/decode_pipeline_win.h"
#include "session/picture_publisher_win.h"
#include "ring/frame_ring_reader.h"
#include "ring/frame_ring_writer.h"
#include "support/test_picture.h"
#include "tools/clip_pattern/frame_counter_code.h"

namespace {

constexpr DWORD kLifetimeMs = 120'000;

std::uint64_t number(char** argv, int index) { return std::strtoull(argv[index], nullptr, 10); }

HANDLE ringEvent(const std::string& ring, const char* which) {
  return CreateEventA(nullptr, TRUE, FALSE, ("Local\\" + ring + "-" + which).c_str());
}
HANDLE stopEvent(const std::string& ring) { return ringEvent(ring, "stop"); }

int write(char** argv) {
  ring::FrameRingConfig config;
  config.name = argv[2];
  config.slotCount = std::uint32_t(number(argv, 3));
  config.maxWidth = std::uint32_t(number(argv, 4));
  config.maxHeight = std::uint32_t(number(argv, 5));
  const std::uint64_t seed = number(argv, 6), count = number(argv, 7);
  const std::uint32_t width = std::uint32_t(number(argv, 8)), height = std::uint32_t(number(argv, 9));
  const DWORD interval = DWORD(number(argv, 10));
  if (width == 0 || height == 0 || width > 4096 || height > 4096) return 3;

  HANDLE stop = stopEvent(config.name);
  ring::FrameRingWriter writer;
  if (stop == nullptr || !writer.open(config)) return 2;
  const DWORD start = GetTickCount();
  int result = 4;
  for (std::uint64_t n = 1; GetTickCount() - start < kLifetimeMs; n++) {
    if (count == 0 || n <= count) {
      std::vector<std::uint8_t> picture = testsupport::makePicture(width, height, seed, n);
      if (!writer.publish(testsupport::pictureTimestamp(seed, n), width, height, picture.data(), picture.size())) {
        result = 2;
        break;
      }
    }
    if (WaitForSingleObject(stop, interval) == WAIT_OBJECT_0) {
      result = 0;
      break;
    }
  }
  writer.close();
  CloseHandle(stop);
  return result;
}

int read(char** argv) {
  const std::string name = argv[2];
  const std::uint64_t seed = number(argv, 3);
  const std::uint32_t width = std::uint32_t(number(argv, 4)), height = std::uint32_t(number(argv, 5));
  const std::uint64_t wanted = number(argv, 6);
  const DWORD timeout = DWORD(number(argv, 7));

  ring::FrameRingReader reader;
  const DWORD start = GetTickCount();
  while (!reader.open(name)) {
    if (GetTickCount() - start > timeout) return 5;
    Sleep(5);
  }
  std::uint64_t lastSeen = 0, checked = 0;
  while (checked < wanted) {
    if (GetTickCount() - start > timeout) return 2;
    ring::RingPicture p = reader.readLatest(lastSeen);
    if (!p.valid) {
      Sleep(1);
      continue;
    }
    bool ok = p.width == width && p.height == height && p.size == pixels::nv12Bytes(width, height) &&
              p.fourcc == ring::kFourccNv12 && p.timestampUs == testsupport::pictureTimestamp(seed, p.frameNumber) &&
              testsupport::pictureMatches(p.pixels.get(), p.size, seed, p.frameNumber);
    if (!ok) {
      std::fprintf(stderr, "picture %llu is not what its number says\n", (unsigned long long)p.frameNumber);
      return 1;
    }
    lastSeen = p.frameNumber;
    checked++;
  }
  return 0;
}

int watch(char** argv) {
  const std::string ring = argv[2];
  const char* resultPath = argv[3];
  const long long baseUs = (long long)number(argv, 4), stepUs = (long long)number(argv, 5);
  if (stepUs <= 0) return 3;
  HANDLE stop = stopEvent(ring);
  if (stop == nullptr) return 2;

  ring::FrameRingReader reader;
  unsigned long long pictures = 0, bad = 0, lastNumber = 0, lastTime = 0;
  unsigned width = 0, height = 0;
  int lastCounter = -1;
  auto readOnce = [&] {
    ring::RingPicture p = reader.readLatest(lastNumber);
    if (!p.valid) return;
    ++pictures;
    int counter = clippattern::readFrameCounter(p.pixels.get(), int(p.width), int(p.height), int(p.width));
    long long expected = ((long long)p.timestampUs - baseUs) / stepUs;
    if (p.size != std::size_t(p.width) * p.height * 3 / 2 || counter != expected) ++bad;
    lastNumber = p.frameNumber;
    lastTime = p.timestampUs;
    lastCounter = counter;
    width = p.width;
    height = p.height;
  };
  const DWORD start = GetTickCount();
  int result = 4;
  while (GetTickCount() - start < kLifetimeMs) {
    bool stopping = WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
    if (!reader.isOpen()) reader.open(ring);
    if (reader.isOpen()) readOnce();
    if (stopping) {
      result = reader.isOpen() ? 0 : 5;
      break;
    }
    Sleep(2);
  }
  CloseHandle(stop);

  std::FILE* out = std::fopen(resultPath, "w");
  if (out == nullptr) return 2;
  std::fprintf(out, "%llu %llu %llu %llu %d %u %u\n", pictures, bad, lastNumber, lastTime, lastCounter, width, height);
  std::fclose(out);
  return result;
}

// Decoding stays out of the test process: Wine's decoder can keep a process that also ran a
// camera graph from exiting.
int decode(char** argv) {
  const std::string ring = argv[2];
  const decodertest::Clip clip = decodertest::loadClip(argv[4], argv[3]);
  HANDLE stop = stopEvent(ring), decoded = ringEvent(ring, "decoded");
  int result = 2;
  session::Orientation orientation;
  session::PictureSlot preview;
  session::PicturePublisher publisher(orientation, preview);
  media::DecodePipeline pipeline(publisher);
  if (stop && decoded && !clip.units.empty() && publisher.open(1920, 1920, ring) && pipeline.start()) {
    for (std::size_t i = 0; i < clip.units.size(); ++i) {
      const receiver::Frame frame = clip.frame(i, i);
      pipeline.decode(frame.payload, frame.timestampUs);
    }
    if (pipeline.framesDecoded() > 0) {
      SetEvent(decoded);
      result = WaitForSingleObject(stop, kLifetimeMs) == WAIT_OBJECT_0 ? 0 : 4;
    }
  }
  pipeline.stop();
  publisher.close();
  if (decoded) CloseHandle(decoded);
  if (stop) CloseHandle(stop);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "write" && argc == 11) return write(argv);
  if (verb == "read" && argc == 8) return read(argv);
  if (verb == "watch" && argc == 6) return watch(argv);
  if (verb == "decode" && argc == 5) return decode(argv);
  std::fprintf(stderr, "usage: see tests/support/ring_child_win.h\n");
  return 3;
}
