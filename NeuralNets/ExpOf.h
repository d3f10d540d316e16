#ifndef KESTRANE_NEURALNETS_EXPOF_H
#define KESTRANE_NEURALNETS_EXPOF_H

// exp for the sigmoids, which take most of a small network's training time.
// glibc's exp is a wrapper that calls its inner routine, sets errno on
// overflow and underflow, and returns the inner routine's value unchanged;
// where the library still exports that routine (the build checks, and then
// defines KESTRANE_EXP_FINITE) the call goes to it directly. The bits are
// those of std::exp either way; only errno is left alone.

#include <cmath>

#if defined(KESTRANE_EXP_FINITE)
extern "C" double __exp_finite(double);
__asm__(".symver __exp_finite, __exp_finite@GLIBC_2.15");
#endif

namespace kestrane {

inline double ExpOf(double x) {
#if defined(KESTRANE_EXP_FINITE)
  return __exp_finite(x);
#else
  return std::exp(x);
#endif
}

} // namespace kestrane

#endif
