#include "pixels/cpu_features.h"

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <immintrin.h>
#include <intrin.h>
#define BRINDLE_MSVC_CPUID 1
#elif (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define BRINDLE_GNU_CPUID 1
#endif

namespace pixels {

bool processorRunsSsse3() {
#if defined(BRINDLE_MSVC_CPUID)
  int info[4];
  __cpuid(info, 1);
  return (info[2] & (1 << 9)) != 0;
#elif defined(BRINDLE_GNU_CPUID)
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") != 0;
#else
  return false;
#endif
}

bool processorRunsAvx2() {
#if defined(BRINDLE_MSVC_CPUID)
  int info[4];
  __cpuid(info, 0);
  if (info[0] < 7) return false;
  __cpuid(info, 1);
  const bool osxsave = (info[2] & (1 << 27)) != 0, avx = (info[2] & (1 << 28)) != 0;
  if (!osxsave || !avx || (_xgetbv(0) & 6) != 6) return false;
  __cpuidex(info, 7, 0);
  return (info[1] & (1 << 5)) != 0;
#elif defined(BRINDLE_GNU_CPUID)
  // libgcc's check covers the operating system's register support as well.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

}  // namespace pixels
