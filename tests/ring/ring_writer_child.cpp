// Test writer process: ring_writer_child NAME SLOTS MAXW MAXH SEED COUNT WIDTH HEIGHT
// Publishes pattern pictures (COUNT of them, or until stopped when COUNT is 0), then keeps the
// ring open until the stop event is set. Exit 0 on success, 2 if the ring did not open, 3 on
// bad arguments, 4 if no stop came within 60 s.
#include <cstdio>
#include <vector>

#include "picture_pattern.h"
#include "ring/frame_ring_writer.h"
#include "ring_test_child.h"

int main(int argc, char** argv) {
  if (argc != 9) return 3;
  FrameRingConfig config;
  config.name = argv[1];
  config.slotCount = std::uint32_t(ringtest::argNumber(argc, argv, 2));
  config.maxWidth = std::uint32_t(ringtest::argNumber(argc, argv, 3));
  config.maxHeight = std::uint32_t(ringtest::argNumber(argc, argv, 4));
  std::uint64_t seed = ringtest::argNumber(argc, argv, 5);
  std::uint64_t count = ringtest::argNumber(argc, argv, 6);
  std::uint32_t width = std::uint32_t(ringtest::argNumber(argc, argv, 7));
  std::uint32_t height = std::uint32_t(ringtest::argNumber(argc, argv, 8));

  HANDLE stop = ringtest::stopEvent(config.name);
  FrameRingWriter writer;
  if (stop == nullptr || !writer.open(config)) return 2;

  std::vector<std::uint8_t> picture(frameRingNv12Bytes(width, height));
  DWORD start = GetTickCount();
  for (std::uint64_t n = 1; count == 0 || n <= count; n++) {
    if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0 || GetTickCount() - start > 60'000) break;
    ringtest::fillPicture(picture.data(), picture.size(), seed, n);
    if (!writer.publish(ringtest::pictureTimestamp(seed, n), width, height, picture.data(), picture.size())) return 2;
    Sleep(2);
  }
  DWORD waited = WaitForSingleObject(stop, 60'000);
  writer.close();
  CloseHandle(stop);
  return waited == WAIT_OBJECT_0 ? 0 : 4;
}
