// What the processor running this program can do, for pixel kernels that pick their fastest
// path at run time. Portable: false wherever the question has no answer.
#pragma once

namespace pixels {

// The paths a pixel kernel with a scalar reference can take. Every path writes the same bytes.
enum class PixelKernel {
  Best,    // the fastest one this processor runs
  Scalar,  // the reference, pixel by pixel
  Sse2,
  Avx2,
};

// SSSE3 instructions (byte shuffles).
bool processorRunsSsse3();
// AVX2 instructions, and an operating system that saves the YMM registers across switches.
bool processorRunsAvx2();

}  // namespace pixels
