// Test reader process: ring_reader_child NAME SEED WIDTH HEIGHT WANTED TIMEOUT_MS
// Opens the ring (retrying until it exists) and reads until WANTED distinct pictures have been
// checked byte for byte. Exit 0 on success, 1 on a picture that is not what its number says,
// 2 on time-out, 3 if the ring never opened.
#include <cstdio>

#include "picture_pattern.h"
#include "ring/frame_ring_reader.h"
#include "ring_test_child.h"

int main(int argc, char** argv) {
  if (argc != 7) return 3;
  std::string name = argv[1];
  std::uint64_t seed = ringtest::argNumber(argc, argv, 2);
  std::uint32_t width = std::uint32_t(ringtest::argNumber(argc, argv, 3));
  std::uint32_t height = std::uint32_t(ringtest::argNumber(argc, argv, 4));
  std::uint64_t wanted = ringtest::argNumber(argc, argv, 5);
  DWORD timeout = DWORD(ringtest::argNumber(argc, argv, 6));

  FrameRingReader reader;
  DWORD start = GetTickCount();
  while (!reader.open(name)) {
    if (GetTickCount() - start > timeout) return 3;
    Sleep(5);
  }
  std::uint64_t lastSeen = 0, checked = 0;
  while (checked < wanted) {
    if (GetTickCount() - start > timeout) return 2;
    RingPicture p = reader.readLatest(lastSeen);
    if (!p.valid) {
      Sleep(1);
      continue;
    }
    bool ok = p.width == width && p.height == height && p.size == frameRingNv12Bytes(width, height) &&
              p.fourcc == kFourccNv12 && p.timestampUs == ringtest::pictureTimestamp(seed, p.frameNumber) &&
              ringtest::pictureMatches(p.pixels.get(), p.size, seed, p.frameNumber);
    if (!ok) {
      std::fprintf(stderr, "picture %llu is not what its number says\n", (unsigned long long)p.frameNumber);
      return 1;
    }
    lastSeen = p.frameNumber;
    checked++;
  }
  return 0;
}
