// ring_probe: opens the frame ring read-only and prints how many pictures were published and
// what the newest one is (size and the frame counter drawn in it).
//   ring_probe [--name NAME] [--watch SECONDS]
// With --watch it also prints one line per new picture it sees, with the wall-clock time in
// microseconds, until the time is up:  picture <number> <wall us> <counter>
// Exit codes: 0 a picture was read; 1 no ring; 2 bad arguments; 3 the ring holds no picture.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ring/frame_ring_block.h"
#include "ring/frame_ring_format.h"
#include "tools/clip_pattern/frame_counter_code.h"

namespace {

// A read-only view of an existing section: the probe can never disturb the writer.
struct ReadOnlyView {
  HANDLE handle = nullptr;
  std::uint8_t* data = nullptr;
  std::uint64_t size = 0;

  bool open(const std::string& objectName) {
    handle = OpenFileMappingA(FILE_MAP_READ, FALSE, objectName.c_str());
    if (!handle) return false;
    data = static_cast<std::uint8_t*>(MapViewOfFile(handle, FILE_MAP_READ, 0, 0, 0));
    MEMORY_BASIC_INFORMATION info = {};
    if (!data || VirtualQuery(data, &info, sizeof(info)) == 0) {
      close();
      return false;
    }
    size = info.RegionSize;
    return true;
  }
  void close() {
    if (data) UnmapViewOfFile(data);
    if (handle) CloseHandle(handle);
    handle = nullptr;
    data = nullptr;
    size = 0;
  }
  ~ReadOnlyView() { close(); }
};

std::int64_t wallMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int counterOf(const ring::RingPicture& p) {
  if (!p.valid || p.size < std::uint64_t(p.width) * p.height) return -1;
  return clippattern::readFrameCounter(p.pixels.get(), int(p.width), int(p.height), int(p.width));
}

std::uint64_t latestFrame(const std::uint8_t* base) {
  const auto* header = reinterpret_cast<const ring::FrameRingHeader*>(base);
  return static_cast<const volatile std::uint64_t&>(header->latestFrame);
}

}  // namespace

int main(int argc, char** argv) {
  std::string name = ring::kFrameRingName;
  int watchSeconds = 0;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (i + 1 >= argc) a.clear();
    if (a == "--name") {
      name = argv[++i];
    } else if (a == "--watch") {
      watchSeconds = std::atoi(argv[++i]);
      if (watchSeconds < 1 || watchSeconds > 3600) a.clear();
    }
    if (a.empty()) {
      std::fprintf(stderr, "usage: ring_probe [--name NAME] [--watch SECONDS]\n");
      return 2;
    }
  }

  ReadOnlyView view;
  ring::FrameRingBlockReader ring;
  if (!view.open(ring::kFrameRingNamespace + name) || !ring.attach(view.data, view.size)) {
    std::printf("no frame ring \"%s\"\n", name.c_str());
    return 1;
  }

  if (watchSeconds > 0) {
    std::uint64_t lastSeen = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(watchSeconds);
    while (std::chrono::steady_clock::now() < end) {
      ring::RingPicture p = ring.readLatest(lastSeen);
      if (p.valid) {
        lastSeen = p.frameNumber;
        std::printf("picture %llu %lld %d\n", static_cast<unsigned long long>(p.frameNumber),
                    static_cast<long long>(wallMicroseconds()), counterOf(p));
      }
      Sleep(2);
    }
  }

  std::printf("published pictures: %llu\n", static_cast<unsigned long long>(latestFrame(view.data)));
  ring::RingPicture newest = ring.readLatest(0);
  if (!newest.valid) {
    std::printf("newest picture: none\n");
    return 3;
  }
  std::printf("newest picture: #%llu %ux%u, %zu bytes, frame counter %d\n",
              static_cast<unsigned long long>(newest.frameNumber), newest.width, newest.height, newest.size,
              counterOf(newest));
  return 0;
}
