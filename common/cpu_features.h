// What the processor running this program can do, for pixel kernels that pick their fastest
// path at run time. Portable: false wherever the question has no answer.
#pragma once

namespace common {

// SSSE3 instructions (byte shuffles).
bool processorRunsSsse3();
// AVX2 instructions, and an operating system that saves the YMM registers across switches.
bool processorRunsAvx2();

}  // namespace common
