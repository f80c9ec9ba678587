// Writes the test clip's frames as raw I420 to standard output, for x264:
//   clip_pattern WIDTH HEIGHT FRAMES | x264 --demuxer raw --input-res WIDTHxHEIGHT ...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/clip_pattern/test_pattern.h"

namespace {

bool parseInt(const char* text, int lo, int hi, int& out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  out = int(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int width = 0, height = 0, frames = 0;
  if (argc != 4 || !parseInt(argv[1], 64, 8192, width) || !parseInt(argv[2], 64, 8192, height) ||
      !parseInt(argv[3], 1, 1000000, frames) || (width % 2) != 0 || (height % 2) != 0) {
    std::fprintf(stderr, "usage: clip_pattern WIDTH HEIGHT FRAMES  (even sizes 64..8192)\n");
    return 2;
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::size_t lumaSize = std::size_t(width) * height;
  std::size_t chromaSize = lumaSize / 4;
  std::vector<std::uint8_t> picture(lumaSize + 2 * chromaSize);
  clippattern::I420View view{width, height, picture.data(), picture.data() + lumaSize,
                             picture.data() + lumaSize + chromaSize};
  for (int i = 0; i < frames; ++i) {
    clippattern::drawTestPattern(view, i);
    if (std::fwrite(picture.data(), 1, picture.size(), stdout) != picture.size()) {
      std::fprintf(stderr, "clip_pattern: write failed at frame %d\n", i);
      return 1;
    }
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "clip_pattern: write failed\n");
    return 1;
  }
  return 0;
}
