#include "tools/clip_pattern/frame_counter_code.h"

#include <algorithm>
#include <cmath>

namespace clippattern {

namespace {

constexpr std::uint8_t kBlack = 16;
constexpr std::uint8_t kWhite = 235;
// A cell reads as black below, white above; in between it is not a code cell.
constexpr int kBlackBelow = 80;
constexpr int kWhiteAbove = 176;
// Compression ringing and noise stay well inside this spread; picture content rarely does.
constexpr int kMaxSpread = 110;
constexpr int kMinCellPixels = 6;

// Cell values: guards, bits (most significant first), parity.
void cellValues(std::uint16_t value, bool cells[kCounterCells]) {
  cells[0] = true;
  cells[1] = false;
  int ones = 0;
  for (int i = 0; i < kCounterBits; ++i) {
    bool bit = (value >> (kCounterBits - 1 - i)) & 1;
    cells[2 + i] = bit;
    ones += bit;
  }
  cells[kCounterCells - 1] = (ones % 2) == 0;  // odd parity: an all-black row never reads
}

bool fits(const CounterCodeLayout& l, int width, int height) {
  return l.cell >= kMinCellPixels && l.x + kCounterCells * l.cell <= width && l.y + l.cell <= height;
}

}  // namespace

CounterCodeLayout counterCodeLayout(int width, int height) {
  CounterCodeLayout l;
  l.cell = std::min(width, height) * 32.0 / 1080.0;
  l.x = l.cell;
  l.y = l.cell;
  return l;
}

void drawFrameCounter(std::uint8_t* luma, int width, int height, int stride, std::uint16_t value) {
  if (luma == nullptr || width <= 0 || height <= 0 || stride < width) return;
  CounterCodeLayout l = counterCodeLayout(width, height);
  if (!fits(l, width, height)) return;
  bool cells[kCounterCells];
  cellValues(value, cells);
  int y0 = int(std::lround(l.y));
  int y1 = int(std::lround(l.y + l.cell));
  for (int i = 0; i < kCounterCells; ++i) {
    int x0 = int(std::lround(l.x + i * l.cell));
    int x1 = int(std::lround(l.x + (i + 1) * l.cell));
    for (int y = y0; y < y1; ++y) {
      std::uint8_t* row = luma + std::size_t(y) * stride;
      std::fill(row + x0, row + x1, cells[i] ? kWhite : kBlack);
    }
  }
}

int readFrameCounter(const std::uint8_t* luma, int width, int height, int stride) {
  if (luma == nullptr || width <= 0 || height <= 0 || stride < width) return -1;
  CounterCodeLayout l = counterCodeLayout(width, height);
  if (!fits(l, width, height)) return -1;
  // Only the middle half of each cell is read: its edges blur under compression and scaling.
  double half = l.cell / 4.0;
  double cy = l.y + l.cell / 2.0;
  int y0 = std::max(0, int(std::floor(cy - half)));
  int y1 = std::min(height, int(std::ceil(cy + half)));
  bool cells[kCounterCells];
  for (int i = 0; i < kCounterCells; ++i) {
    double cx = l.x + (i + 0.5) * l.cell;
    int x0 = std::max(0, int(std::floor(cx - half)));
    int x1 = std::min(width, int(std::ceil(cx + half)));
    long sum = 0;
    int lo = 255, hi = 0;
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* row = luma + std::size_t(y) * stride;
      for (int x = x0; x < x1; ++x) {
        sum += row[x];
        lo = std::min<int>(lo, row[x]);
        hi = std::max<int>(hi, row[x]);
      }
    }
    long count = long(y1 - y0) * (x1 - x0);
    if (count <= 0 || hi - lo > kMaxSpread) return -1;
    long mean = sum / count;
    if (mean < kBlackBelow) {
      cells[i] = false;
    } else if (mean > kWhiteAbove) {
      cells[i] = true;
    } else {
      return -1;
    }
  }
  int value = 0;
  for (int i = 0; i < kCounterBits; ++i) value = (value << 1) | (cells[2 + i] ? 1 : 0);
  bool expected[kCounterCells];
  cellValues(std::uint16_t(value), expected);
  if (!std::equal(cells, cells + kCounterCells, expected)) return -1;
  return value;
}

}  // namespace clippattern
