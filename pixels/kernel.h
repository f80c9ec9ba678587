// The one choice of pixel kernel: which instruction sets' rows an operation may run. Every path
// writes the bytes of the scalar reference, so the choice only changes the speed. Portable.
#pragma once

namespace pixels {

enum class PixelKernel {
  Best,    // the fastest one this processor runs
  Scalar,  // the reference, pixel by pixel
  Sse2,
  Ssse3,   // SSSE3 rows where an operation has them, SSE2 ones elsewhere
  Avx2,    // AVX2 rows where an operation has them, then SSSE3 and SSE2 ones
};

// True when this build has the kernel's rows and this processor runs them (Best and Scalar
// always are).
bool kernelAvailable(PixelKernel kernel);
// The kernel that Best stands for here.
PixelKernel bestKernel();
// "best", "scalar", "sse2", "ssse3" or "avx2", for reports.
const char* kernelName(PixelKernel kernel);

}  // namespace pixels
