// What the processor the library runs on can do, asked once: the vector paths of the pixel
// loops are compiled for instruction sets beyond the build's baseline and chosen at run time.
// With QUILLO_SCALAR set in the environment none is taken, so that the plain paths, which
// processors without those sets run, can be tested and compared on any machine.
#pragma once

#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILLO_X86 1

namespace quillo::detail {

inline bool VectorPathsAllowed() {
  static const bool B = std::getenv("QUILLO_SCALAR") == nullptr;
  return B;
}

inline bool HaveSSSE3() {
  static const bool B =
      VectorPathsAllowed() && (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
  return B;
}

inline bool HaveAVX2() {
  static const bool B =
      VectorPathsAllowed() && (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
  return B;
}

}  // namespace quillo::detail

#endif
