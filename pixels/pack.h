// Packs an NV12 picture whose rows may be longer than the picture (stride) and whose chroma
// plane may start below extra luma rows (a decoder's coded height) into tight NV12: `height`
// luma rows of `width` bytes, then one chroma row of `width` bytes per two luma rows, the last
// one covering the bottom row of an odd height.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixels/nv12_view.h"

namespace pixels {

// Bytes packNv12 reads from a source of this layout: everything up to the end of the last
// chroma row's `width` bytes. 0 for an empty picture.
std::uint64_t nv12SourceBytesNeeded(std::uint32_t sourceStride, std::uint32_t sourceRows, std::uint32_t width,
                                    std::uint32_t height);

// Copies the visible top-left width x height picture out of `src` (rows `stride` apart, chroma
// from row `chromaRow`, `size` bytes) into `destination`, resized to nv12Bytes(width, height).
// Returns false, leaving `destination` untouched, when the source cannot hold the picture: rows
// shorter than `width`, fewer luma rows than `height`, or fewer bytes than
// nv12SourceBytesNeeded. Never reads outside the source.
bool packNv12(const Nv12View& src, std::uint32_t chromaRow, std::vector<std::uint8_t>& destination);

}  // namespace pixels
