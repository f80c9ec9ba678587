// Test writer process: vcam_dll_ring_writer_child WIDTH HEIGHT INTERVAL_MS
// Creates the system's frame ring and publishes counter pictures 1, 2, 3, ... every
// INTERVAL_MS until the stop event is set. Exit 0 on success, 2 if the ring did not open or a
// picture was refused, 3 on bad arguments, 4 if no stop came within 120 s.
#include <windows.h>

#include <cstdlib>

#include "counter_picture.h"
#include "ring/frame_ring_writer.h"

int main(int argc, char** argv) {
  if (argc != 4) return 3;
  std::uint32_t width = std::uint32_t(std::strtoul(argv[1], nullptr, 10));
  std::uint32_t height = std::uint32_t(std::strtoul(argv[2], nullptr, 10));
  DWORD interval = DWORD(std::strtoul(argv[3], nullptr, 10));
  if (width == 0 || height == 0 || width > 4096 || height > 4096) return 3;

  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "Local\\brindle-vcam-dll-test-stop");
  FrameRingWriter writer;
  if (stop == nullptr || !writer.open(FrameRingConfig())) return 2;
  ULONGLONG start = GetTickCount64();
  int result = 4;
  for (std::uint32_t n = 1; GetTickCount64() - start < 120'000; n++) {
    std::vector<std::uint8_t> picture = dlltest::makeCounterPicture(width, height, n);
    if (!writer.publish(n * 16'667ull, width, height, picture.data(), picture.size())) {
      result = 2;
      break;
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
