// The vector row kernel behind LetterboxScaler's YUY2 output, in a source of its own so that
// only it is built for SSSE3. The scaler cuts each output row into blocks of four pixel pairs
// (16 bytes); a block takes its luma from 16 bytes of the source row starting at `luma` and
// its chroma from 16 bytes of the chroma row starting at `chroma`, and places them with two
// byte shuffles. The scaler builds blocks only where both loads lie inside their rows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vcam::letterbox_rows {

struct Yuy2Block {
  std::uint32_t luma = 0, chroma = 0;  // first byte of each 16-byte load in its row
  std::uint8_t lumaShuffle[16] = {};   // per output byte: the load's byte, or 0x80 for none
  std::uint8_t chromaShuffle[16] = {};
};

// Whether this build has the kernel (the processor may still lack SSSE3).
bool builtSsse3();

// Writes 16 bytes per block to out[16 b ..].
void ssse3Yuy2Row(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out, const Yuy2Block* blocks,
                  std::size_t count);

}  // namespace vcam::letterbox_rows
