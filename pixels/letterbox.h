// Nearest-neighbour scaling of a packed NV12 picture into a sample of another size, keeping the
// aspect ratio and filling the rest with black bars. Portable; no allocation once the geometry
// is known (the column tables are kept for the next picture of the same sizes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixels/convert_picture.h"
#include "pixels/kernel.h"
#include "pixels/nv12_view.h"
#include "pixels/rows.h"
#include "pixels/target_view.h"

namespace pixels {

// Where the scaled picture lands in the output. Sizes and offsets are even.
struct LetterboxGeometry {
  double scale = 0;          // output pixels per source pixel
  std::uint32_t width = 0;   // of the scaled picture
  std::uint32_t height = 0;
  std::uint32_t x0 = 0;      // its top-left corner in the output
  std::uint32_t y0 = 0;
};

// scale = min(height / sh, width / sw); the scaled size truncated and made even; the picture centred
// with even offsets. All zero when any size is 0.
LetterboxGeometry letterboxGeometry(std::uint32_t sw, std::uint32_t sh, std::uint32_t width, std::uint32_t height);

class LetterboxScaler {
 public:
  // Rows run the kernel's vector rows where it has some for scaling (an unavailable kernel runs
  // plain code); the result is the same byte for byte.
  explicit LetterboxScaler(PixelKernel kernel = PixelKernel::Best);
  // The kernel it runs (Scalar for an unavailable one), for the direct conversions beside it.
  PixelKernel kernel() const { return kernel_; }

  // Output position i takes source position truncate(i / scale); source positions are held
  // inside the picture, so no pixel is taken from a neighbouring row or plane.
  //
  // YUY2: writes nothing when `count` < width * height * 2 or the picture is empty (narrower than 2
  // pixels or 0 rows); otherwise black in whole 4-byte groups, then the scaled picture.
  // NV12: an empty picture gives `count` bytes of grey; `count` < width * height * 3 / 2 writes nothing;
  // otherwise a black width x height frame with the scaled picture in it.
  // `src` must hold at least pixels::nv12Bytes(width, height) bytes (convertPicture checks).
  void toYuy2(const Nv12View& src, const TargetView& dst);
  void toNv12(const Nv12View& src, const TargetView& dst);

 private:
  void prepare(std::uint32_t sw, std::uint32_t sh, std::uint32_t width, std::uint32_t height);
  void buildBlocks();
  void buildGatherBlocks();
  std::uint32_t sourceRow(std::uint32_t j) const;

  std::uint32_t sw_ = 0, sh_ = 0, width_ = 0, height_ = 0;
  LetterboxGeometry geometry_;
  std::vector<std::uint32_t> lumaX_;    // NV12: source column of output column i
  std::vector<std::uint32_t> chromaX_;  // NV12: source chroma pair of output pair i
  std::vector<std::uint32_t> pairX_;    // YUY2, per output pair k: first luma column, second
                                        // luma column, chroma byte column (3 entries each)
  bool adjacent_ = true;                // every pair's second luma column is its first + 1
  PixelKernel kernel_;
  const rows::ScaleRows* scale_ = nullptr;      // null: plain code only
  std::vector<rows::Yuy2Block> blocks_;          // YUY2: the leading pairs of a row, four a block
  std::vector<rows::GatherBlock> lumaBlocks_;    // NV12: the leading bytes of a luma row
  std::vector<rows::GatherBlock> chromaBlocks_;  // NV12: the leading pairs of a chroma row
};

}  // namespace pixels
