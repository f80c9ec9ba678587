#include "tools/phone_sim/access_unit_splitter.h"

namespace phonesim {

namespace {

constexpr int kNalSlice = 1;
constexpr int kNalIdrSlice = 5;
constexpr int kNalDelimiter = 9;

}  // namespace

std::vector<AccessUnit> splitAccessUnits(std::span<const std::uint8_t> stream) {
  std::vector<AccessUnit> units;
  const std::uint8_t* d = stream.data();
  const std::size_t n = stream.size();

  bool open = false;  // a delimiter has started the current unit
  AccessUnit current;
  bool hasSlice = false;
  auto finish = [&](std::size_t end) {
    if (open && hasSlice) {
      current.size = end - current.offset;
      units.push_back(current);
    }
  };

  // A start code is 00 00 01; the NAL header byte follows it.
  for (std::size_t i = 0; i + 3 < n; ++i) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    int type = d[i + 3] & 0x1F;
    if (type == kNalDelimiter) {
      std::size_t start = (i > 0 && d[i - 1] == 0) ? i - 1 : i;
      finish(start);
      open = true;
      current = AccessUnit{start, 0, false};
      hasSlice = false;
    } else if (type >= kNalSlice && type <= kNalIdrSlice) {
      hasSlice = true;
      if (type == kNalIdrSlice) current.isKey = true;
    }
    i += 2;  // the next start code can begin at the header byte at the earliest
  }
  finish(n);
  return units;
}

}  // namespace phonesim
