// Reads the decode pipeline's ring from its own process, as the virtual camera does, until the
// driver signals "Local\<ring>-stop"; then reads once more and writes what it saw to a file:
//   decoder_ring_reader_child RING RESULT_FILE
// Every picture must be packed NV12 whose drawn counter matches its timestamp.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "clip_units.h"
#include "ring/frame_ring_reader.h"
#include "tools/clip_pattern/frame_counter_code.h"

int main(int argc, char** argv) {
  if (argc != 3) return 10;
  const std::string ring = argv[1];
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, ("Local\\" + ring + "-stop").c_str());
  if (stop == nullptr) return 11;

  FrameRingReader reader;
  unsigned long long pictures = 0, bad = 0, lastNumber = 0, lastTime = 0;
  unsigned width = 0, height = 0;
  int lastCounter = -1;
  auto readOnce = [&] {
    RingPicture p = reader.readLatest(lastNumber);
    if (!p.valid) return;
    ++pictures;
    int counter = clippattern::readFrameCounter(p.pixels.get(), int(p.width), int(p.height), int(p.width));
    if (p.size != std::size_t(p.width) * p.height * 3 / 2 || counter != decodertest::numberOf(std::int64_t(p.timestampUs))) ++bad;
    lastNumber = p.frameNumber;
    lastTime = p.timestampUs;
    lastCounter = counter;
    width = p.width;
    height = p.height;
  };
  // Bounded: 60 s at most, whatever the driver does.
  for (int round = 0; round < 30000; ++round) {
    bool stopping = WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
    if (!reader.isOpen()) reader.open(ring);
    if (reader.isOpen()) readOnce();
    if (stopping) break;
    Sleep(2);
  }
  CloseHandle(stop);

  std::FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) return 12;
  std::fprintf(out, "%llu %llu %llu %llu %d %u %u\n", pictures, bad, lastNumber, lastTime, lastCounter, width, height);
  std::fclose(out);
  return reader.isOpen() ? 0 : 3;
}
