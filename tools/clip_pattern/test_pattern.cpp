#include "tools/clip_pattern/test_pattern.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tools/clip_pattern/frame_counter_code.h"

namespace clippattern {

namespace {

struct Yuv {
  std::uint8_t y, u, v;
};

// BT.601 limited range.
constexpr Yuv kGrey = {128, 128, 128};
constexpr Yuv kBlackYuv = {16, 128, 128};
constexpr Yuv kWhiteYuv = {235, 128, 128};
constexpr Yuv kColours[] = {
    {81, 90, 240},   // red
    {145, 54, 34},   // green
    {41, 240, 110},  // blue
    {210, 16, 146},  // yellow
    {170, 166, 16},  // cyan
    {106, 202, 222}, // magenta
};
constexpr int kColourCount = int(sizeof kColours / sizeof kColours[0]);

// Fills [x0, x1) x [y0, y1), clipped to the picture; chroma covers the 2x2 blocks it touches.
void fillRect(const I420View& p, int x0, int y0, int x1, int y1, Yuv c) {
  x0 = std::clamp(x0, 0, p.width);
  x1 = std::clamp(x1, 0, p.width);
  y0 = std::clamp(y0, 0, p.height);
  y1 = std::clamp(y1, 0, p.height);
  if (x0 >= x1 || y0 >= y1) return;
  for (int y = y0; y < y1; ++y) std::memset(p.y + std::size_t(y) * p.width + x0, c.y, std::size_t(x1 - x0));
  int cw = p.width / 2;
  for (int y = y0 / 2; y < (y1 + 1) / 2; ++y) {
    std::memset(p.u + std::size_t(y) * cw + x0 / 2, c.u, std::size_t((x1 + 1) / 2 - x0 / 2));
    std::memset(p.v + std::size_t(y) * cw + x0 / 2, c.v, std::size_t((x1 + 1) / 2 - x0 / 2));
  }
}

// Seven-segment digit in a box of w x h at (x, y); segments a-g as usual.
void drawDigit(const I420View& p, int x, int y, int w, int h, int digit) {
  static const std::uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
  int t = std::max(2, w / 6);
  int mid = y + h / 2 - t / 2;
  std::uint8_t s = kSegments[digit % 10];
  if (s & 0x01) fillRect(p, x, y, x + w, y + t, kWhiteYuv);                   // a
  if (s & 0x02) fillRect(p, x + w - t, y, x + w, y + h / 2, kWhiteYuv);       // b
  if (s & 0x04) fillRect(p, x + w - t, y + h / 2, x + w, y + h, kWhiteYuv);   // c
  if (s & 0x08) fillRect(p, x, y + h - t, x + w, y + h, kWhiteYuv);           // d
  if (s & 0x10) fillRect(p, x, y + h / 2, x + t, y + h, kWhiteYuv);           // e
  if (s & 0x20) fillRect(p, x, y, x + t, y + h / 2, kWhiteYuv);               // f
  if (s & 0x40) fillRect(p, x, mid, x + w, mid + t, kWhiteYuv);               // g
}

// Position of a shape bouncing between lo and hi at `speed` pixels per frame.
int bounce(int index, int lo, int hi, int speed) {
  int span = std::max(1, hi - lo);
  int t = int((long long)index * speed % (2LL * span));
  return lo + (t < span ? t : 2 * span - t);
}

}  // namespace

bool drawTestPattern(const I420View& p, int index) {
  if (p.y == nullptr || p.u == nullptr || p.v == nullptr) return false;
  if (p.width < 64 || p.height < 64 || (p.width % 2) != 0 || (p.height % 2) != 0) return false;
  fillRect(p, 0, 0, p.width, p.height, kGrey);

  std::uint16_t number = std::uint16_t(index & 0xFFFF);
  drawFrameCounter(p.y, p.width, p.height, p.width, number);

  // Five digits under the code, on a black plate.
  CounterCodeLayout l = counterCodeLayout(p.width, p.height);
  int cell = std::max(2, int(std::lround(l.cell)));
  int dx = int(std::lround(l.x));
  int dy = int(std::lround(l.y + 2 * l.cell));
  int dw = 2 * cell;
  int dh = 4 * cell;
  int pitch = dw + cell;
  fillRect(p, dx - cell / 2, dy - cell / 2, dx + 5 * pitch, dy + dh + cell / 2, kBlackYuv);
  int value = number;
  for (int i = 4; i >= 0; --i, value /= 10) drawDigit(p, dx + i * pitch, dy, dw, dh, value % 10);

  // Moving content stays below the number so it never disturbs the code.
  int top = dy + dh + cell;
  int size = 4 * cell;
  int bottom = p.height - size;
  if (bottom > top) {
    int x = bounce(index, 0, p.width - size, std::max(1, p.width / 90));
    int y = bounce(index, top, bottom, std::max(1, p.height / 70));
    fillRect(p, x, y, x + size, y + size, kColours[(index / 15) % kColourCount]);
    int x2 = bounce(index + 37, 0, p.width - size / 2, std::max(1, p.width / 60));
    fillRect(p, x2, bottom, x2 + size / 2, bottom + size / 2, kColours[(index / 15 + 3) % kColourCount]);
  }
  // A strip of colour bars scrolling along the bottom edge.
  int bar = std::max(2, p.width / kColourCount / 2);
  int stripTop = p.height - cell;
  int shift = (index * 8) % (bar * kColourCount);
  for (int x = -bar * kColourCount; x < p.width; x += bar) {
    int k = ((x + bar * kColourCount) / bar) % kColourCount;
    fillRect(p, x + shift, stripTop, x + shift + bar, p.height, kColours[k]);
  }
  return true;
}

}  // namespace clippattern
