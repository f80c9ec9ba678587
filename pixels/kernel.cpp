#include "pixels/kernel.h"

#include "pixels/cpu_features.h"
#include "pixels/rows.h"

namespace pixels {
namespace {

rows::RowSet sse2Set() { return {rows::turnSse2(), rows::rgbaSse2(), nullptr, rows::yuy2Sse2()}; }
rows::RowSet ssse3Set() { return {nullptr, nullptr, rows::scaleSsse3(), nullptr}; }
rows::RowSet avx2Set() { return {rows::turnAvx2(), rows::rgbaAvx2(), nullptr, nullptr}; }

bool built(const rows::RowSet& set) {
  return set.turn != nullptr || set.rgba != nullptr || set.scale != nullptr || set.yuy2 != nullptr;
}

}  // namespace

bool kernelAvailable(PixelKernel kernel) {
  switch (kernel) {
    case PixelKernel::Best:
    case PixelKernel::Scalar:
      return true;
    case PixelKernel::Sse2:
      return built(sse2Set());
    case PixelKernel::Ssse3:
      return built(ssse3Set()) && processorRunsSsse3();
    case PixelKernel::Avx2:
      return built(avx2Set()) && processorRunsAvx2();
  }
  return false;
}

PixelKernel bestKernel() {
  if (kernelAvailable(PixelKernel::Avx2)) return PixelKernel::Avx2;
  if (kernelAvailable(PixelKernel::Ssse3)) return PixelKernel::Ssse3;
  if (kernelAvailable(PixelKernel::Sse2)) return PixelKernel::Sse2;
  return PixelKernel::Scalar;
}

const char* kernelName(PixelKernel kernel) {
  switch (kernel) {
    case PixelKernel::Best: return "best";
    case PixelKernel::Scalar: return "scalar";
    case PixelKernel::Sse2: return "sse2";
    case PixelKernel::Ssse3: return "ssse3";
    case PixelKernel::Avx2: return "avx2";
  }
  return "?";
}

namespace rows {

Chain chainOf(PixelKernel kernel) {
  if (kernel == PixelKernel::Best) kernel = bestKernel();
  Chain chain;
  // Each set joins below a wider one only where the processor runs it too.
  if (kernel == PixelKernel::Avx2) chain.sets[chain.count++] = avx2Set();
  if ((kernel == PixelKernel::Avx2 || kernel == PixelKernel::Ssse3) && kernelAvailable(PixelKernel::Ssse3)) {
    chain.sets[chain.count++] = ssse3Set();
  }
  if (kernel != PixelKernel::Scalar && kernelAvailable(PixelKernel::Sse2)) chain.sets[chain.count++] = sse2Set();
  return chain;
}

}  // namespace rows
}  // namespace pixels
