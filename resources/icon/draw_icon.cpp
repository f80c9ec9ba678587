// draw_icon OUT.ico [SIDE.bmp]: draws the application icon (a camera lens with a recording dot
// on a blue tile) at every size Windows asks for and writes them as one .ico file; and, if
// asked, the installer's side picture (the lens on blue, 164x314). Runs on the build machine.
// Small sizes are drawn, not scaled down, so every size stays sharp.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Rgba {
  float r, g, b, a;
};

// Straight alpha "over" for one covered fraction of a pixel.
Rgba over(Rgba dst, Rgba src, float coverage) {
  float a = src.a * coverage;
  float outA = a + dst.a * (1 - a);
  if (outA <= 0) return {0, 0, 0, 0};
  auto mix = [&](float s, float d) { return (s * a + d * dst.a * (1 - a)) / outA; };
  return {mix(src.r, dst.r), mix(src.g, dst.g), mix(src.b, dst.b), outA};
}

float lerp(float a, float b, float t) { return a + (b - a) * t; }

Rgba hex(unsigned rgb) {
  return {float((rgb >> 16) & 0xFF) / 255, float((rgb >> 8) & 0xFF) / 255, float(rgb & 0xFF) / 255, 1};
}

// Shapes in unit coordinates (0..1 across the icon, y down).
bool inRoundedSquare(float x, float y, float inset, float radius) {
  float lo = inset + radius, hi = 1 - inset - radius;
  float dx = std::max({lo - x, 0.0f, x - hi});
  float dy = std::max({lo - y, 0.0f, y - hi});
  return dx * dx + dy * dy <= radius * radius;
}

bool inCircle(float x, float y, float cx, float cy, float r) {
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

// The colour of one sample point.
struct Layer {
  Rgba colour;
  bool covered;
};

Rgba blueAt(float t) {
  const Rgba top = hex(0x3E74F2), bottom = hex(0x1C3A9E);
  return {lerp(top.r, bottom.r, t), lerp(top.g, bottom.g, t), lerp(top.b, bottom.b, t), 1};
}

// The lens centred at (cx, cy) with outer radius 0.31 * s: a white ring, a dark glass, a glint;
// and the recording dot above to the right.
void addLens(std::vector<Layer>& layers, float x, float y, float cx, float cy, float s) {
  layers.push_back({hex(0xFFFFFF), inCircle(x, y, cx, cy, 0.31f * s)});
  layers.push_back({hex(0x0D1633), inCircle(x, y, cx, cy, 0.2f * s)});
  layers.push_back({hex(0x2B5CE5), inCircle(x, y, cx, cy, 0.11f * s)});
  layers.push_back({hex(0xFFFFFF), inCircle(x, y, cx - 0.065f * s, cy - 0.065f * s, 0.05f * s)});
  layers.push_back({hex(0xE5484D), inCircle(x, y, cx + 0.33f * s, cy - 0.33f * s, 0.1f * s)});
}

// The icon, in units of its size.
std::vector<Layer> iconAt(float x, float y) {
  std::vector<Layer> layers = {{blueAt(y), inRoundedSquare(x, y, 0.03f, 0.2f)}};
  addLens(layers, x, y, 0.47f, 0.53f, 1);
  return layers;
}

// The installer's side picture, in units of its width; 1.915 widths high.
std::vector<Layer> sideAt(float x, float y) {
  std::vector<Layer> layers = {{blueAt(y / 1.915f), true}};
  addLens(layers, x, y, 0.45f, 0.85f, 1.1f);
  return layers;
}

// RGBA rows, top first; 8x8 samples a pixel. `scene` takes coordinates in units of the width.
std::vector<std::uint8_t> draw(int width, int height, std::vector<Layer> (*scene)(float, float)) {
  const int n = 8;
  std::vector<std::uint8_t> out(std::size_t(width) * height * 4);
  for (int py = 0; py < height; py++) {
    for (int px = 0; px < width; px++) {
      std::vector<float> coverage;
      std::vector<Rgba> colours;
      for (int sy = 0; sy < n; sy++) {
        for (int sx = 0; sx < n; sx++) {
          float x = (px + (sx + 0.5f) / n) / width, y = (py + (sy + 0.5f) / n) / width;
          std::vector<Layer> layers = scene(x, y);
          if (coverage.empty()) {
            coverage.assign(layers.size(), 0);
            colours.resize(layers.size());
          }
          for (std::size_t i = 0; i < layers.size(); i++) {
            if (!layers[i].covered) continue;
            // Averages the gradient over the pixel too.
            colours[i].r += layers[i].colour.r, colours[i].g += layers[i].colour.g;
            colours[i].b += layers[i].colour.b, coverage[i] += 1;
          }
        }
      }
      Rgba pixel = {0, 0, 0, 0};
      for (std::size_t i = 0; i < coverage.size(); i++) {
        if (coverage[i] == 0) continue;
        Rgba c = {colours[i].r / coverage[i], colours[i].g / coverage[i], colours[i].b / coverage[i], 1};
        pixel = over(pixel, c, coverage[i] / (n * n));
      }
      std::uint8_t* p = &out[(std::size_t(py) * width + px) * 4];
      p[0] = std::uint8_t(std::lround(pixel.r * 255));
      p[1] = std::uint8_t(std::lround(pixel.g * 255));
      p[2] = std::uint8_t(std::lround(pixel.b * 255));
      p[3] = std::uint8_t(std::lround(pixel.a * 255));
    }
  }
  return out;
}

void put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(std::uint8_t(x));
  v.push_back(std::uint8_t(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, unsigned x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
void put32BigEndian(std::vector<std::uint8_t>& v, unsigned x) {
  for (int shift = 24; shift >= 0; shift -= 8) v.push_back(std::uint8_t(x >> shift));
}

void pngChunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
  put32BigEndian(png, unsigned(data.size()));
  std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  put32BigEndian(png, unsigned(crc32(0, png.data() + start, uInt(png.size() - start))));
}

// The 256-pixel image as PNG, as Windows expects it inside an icon.
std::vector<std::uint8_t> png(const std::vector<std::uint8_t>& rgba, int size) {
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < size; y++) {
    raw.push_back(0);  // no filter
    raw.insert(raw.end(), rgba.begin() + std::ptrdiff_t(y) * size * 4, rgba.begin() + std::ptrdiff_t(y + 1) * size * 4);
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 9) != Z_OK) return {};
  packed.resize(packedSize);

  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  put32BigEndian(header, unsigned(size));
  put32BigEndian(header, unsigned(size));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA
  pngChunk(out, "IHDR", header);
  pngChunk(out, "IDAT", packed);
  pngChunk(out, "IEND", {});
  return out;
}

// Smaller sizes as the classic 32-bit DIB: header, bottom-up BGRA rows, then the AND mask.
// BITMAPINFOHEADER: 40 bytes, one plane, no compression.
void putInfoHeader(std::vector<std::uint8_t>& out, int width, int height, int bits) {
  put32(out, 40);
  put32(out, unsigned(width));
  put32(out, unsigned(height));
  put16(out, 1);
  put16(out, unsigned(bits));
  for (int i = 0; i < 6; i++) put32(out, 0);
}

std::vector<std::uint8_t> dib(const std::vector<std::uint8_t>& rgba, int size) {
  std::vector<std::uint8_t> out;
  putInfoHeader(out, size, size * 2, 32);  // the height counts colour and mask
  for (int y = size - 1; y >= 0; y--) {
    for (int x = 0; x < size; x++) {
      const std::uint8_t* p = &rgba[(std::size_t(y) * size + x) * 4];
      out.insert(out.end(), {p[2], p[1], p[0], p[3]});
    }
  }
  int maskRow = ((size + 31) / 32) * 4;
  for (int y = size - 1; y >= 0; y--) {
    std::vector<std::uint8_t> row(std::size_t(maskRow), 0);
    for (int x = 0; x < size; x++) {
      if (rgba[(std::size_t(y) * size + x) * 4 + 3] == 0) row[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// A 24-bit BMP file: bottom-up BGR rows padded to four bytes.
std::vector<std::uint8_t> bmp(const std::vector<std::uint8_t>& rgba, int width, int height) {
  const unsigned row = unsigned(width * 3 + 3) / 4 * 4, pixels = row * unsigned(height);
  std::vector<std::uint8_t> out = {'B', 'M'};
  put32(out, 14 + 40 + pixels);
  put32(out, 0);
  put32(out, 14 + 40);
  putInfoHeader(out, width, height, 24);
  for (int y = height - 1; y >= 0; y--) {
    for (int x = 0; x < width; x++) {
      const std::uint8_t* p = &rgba[(std::size_t(y) * width + x) * 4];
      out.insert(out.end(), {p[2], p[1], p[0]});
    }
    out.resize(out.size() + (row - unsigned(width) * 3), 0);
  }
  return out;
}

bool writeFile(const char* path, const std::vector<std::uint8_t>& bytes) {
  FILE* file = std::fopen(path, "wb");
  bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) written = false;
  if (!written) std::fprintf(stderr, "draw_icon: cannot write %s\n", path);
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: draw_icon OUT.ico [SIDE.bmp]\n");
    return 2;
  }
  const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 256};
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : sizes) {
    std::vector<std::uint8_t> rgba = draw(size, size, iconAt);
    images.push_back(size == 256 ? png(rgba, size) : dib(rgba, size));
    if (images.back().empty()) return 1;
  }

  std::vector<std::uint8_t> ico;
  put16(ico, 0);
  put16(ico, 1);  // icon
  put16(ico, unsigned(images.size()));
  unsigned offset = unsigned(6 + 16 * images.size());
  for (std::size_t i = 0; i < images.size(); i++) {
    ico.push_back(std::uint8_t(sizes[i] & 0xFF));  // 0 means 256
    ico.push_back(std::uint8_t(sizes[i] & 0xFF));
    ico.push_back(0);
    ico.push_back(0);
    put16(ico, 1);
    put16(ico, 32);
    put32(ico, unsigned(images[i].size()));
    put32(ico, offset);
    offset += unsigned(images[i].size());
  }
  for (const auto& image : images) ico.insert(ico.end(), image.begin(), image.end());
  if (!writeFile(argv[1], ico)) return 1;
  if (argc == 3 && !writeFile(argv[2], bmp(draw(164, 314, sideAt), 164, 314))) return 1;
  return 0;
}
