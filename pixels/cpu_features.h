// What the processor running this program can do, for the one choice of pixel kernel
// (kernel.h). Portable: false wherever the question has no answer.
#pragma once

namespace pixels {

// SSSE3 instructions (byte shuffles).
bool processorRunsSsse3();
// AVX2 instructions, and an operating system that saves the YMM registers across switches.
bool processorRunsAvx2();

}  // namespace pixels
