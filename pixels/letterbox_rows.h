// The vector row kernels behind LetterboxScaler, in a source of their own so that only they are
// built for SSSE3. The scaler builds blocks only where every load lies inside its row.
//
// YUY2: the scaler cuts each output row into blocks of four pixel pairs (16 bytes); a block
// takes its luma from 16 bytes of the source row starting at `luma` and its chroma from 16
// bytes of the chroma row starting at `chroma`, and places them with two byte shuffles.
//
// NV12: each plane's output row is gathered in blocks; a block loads 32 bytes of the source row
// from `source`, picks 16 output bytes from them with two shuffles, stores all 16 and moves on
// by `count` (1..16): the bytes past `count` are garbage that the next block or the scalar
// tail overwrites, so the scaler builds a block only where its whole store lies in the row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixels::letterbox_rows {

struct Yuy2Block {
  std::uint32_t luma = 0, chroma = 0;  // first byte of each 16-byte load in its row
  std::uint8_t lumaShuffle[16] = {};   // per output byte: the load's byte, or 0x80 for none
  std::uint8_t chromaShuffle[16] = {};
};

struct GatherBlock {
  std::uint32_t source = 0;         // first byte of the 32-byte load in the source row
  std::uint32_t count = 0;          // output bytes this block makes
  std::uint8_t low[16] = {};        // per output byte: byte of the load's first half, or 0x80
  std::uint8_t high[16] = {};       // per output byte: byte of its second half, or 0x80
};

// Whether this build has the kernel (the processor may still lack SSSE3).
bool builtSsse3();

// Writes the blocks' output from out[0] on; returns the bytes made (the sum of the counts).
std::size_t ssse3GatherRow(const std::uint8_t* row, std::uint8_t* out, const GatherBlock* blocks, std::size_t count);

// Writes 16 bytes per block to out[16 b ..].
void ssse3Yuy2Row(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out, const Yuy2Block* blocks,
                  std::size_t count);

}  // namespace pixels::letterbox_rows
