#include "NeuralNets/ColumnKernels.h"

#include <cstddef>

namespace kestrane {
namespace kernels {

// Built for the base instruction set and for AVX2, picked at load time, as the
// row-stored kernels (TrainKernels.cpp): one IEEE operation per lane, no
// fused multiply-add, so both builds give the same bits.
#if defined(__GNUC__) && defined(__x86_64__)
#define KESTRANE_WIDE_KERNEL __attribute__((target_clones("avx2", "default")))
#define KESTRANE_KERNEL_INLINE __attribute__((always_inline)) inline
#else
#define KESTRANE_WIDE_KERNEL
#define KESTRANE_KERNEL_INLINE inline
#endif

namespace {

template <bool Momentum, bool Next>
KESTRANE_KERNEL_INLINE void Columns(int stride, int cols, double *__restrict wT,
                                    double *__restrict dT, const double *__restrict delta,
                                    const double *__restrict y, double rate, double momentum,
                                    const double *__restrict aNext, double *__restrict sNext) {
  for (int j = 0; j < cols; ++j) {
    const size_t at = static_cast<size_t>(j) * static_cast<size_t>(stride);
    double *__restrict w = wT + at;
    double *__restrict d = dT + at;
    const double yj = y[j];
    const double aj = Next ? aNext[j] : 0.0;
    for (int k = 0; k < stride; ++k) {
      const double g = 0.0 + delta[k] * yj;
      double wk;
      if (Momentum) {
        const double dk = -rate * g + momentum * d[k];
        d[k] = dk;
        wk = w[k] + dk;
      } else {
        wk = w[k] - rate * g;
      }
      w[k] = wk;
      if (Next)
        sNext[k] = sNext[k] + wk * aj;
    }
  }
}

} // namespace

KESTRANE_WIDE_KERNEL void AddColumnSums(int stride, int cols, const double *wT, const double *a,
                                        double *s) {
  double *__restrict sum = s;
  for (int j = 0; j < cols; ++j) {
    const double *__restrict w = wT + static_cast<size_t>(j) * static_cast<size_t>(stride);
    const double aj = a[j];
    for (int k = 0; k < stride; ++k)
      sum[k] = sum[k] + w[k] * aj;
  }
}

KESTRANE_WIDE_KERNEL void AddColumnSums4(int stride, int cols, const double *wT,
                                         const double *const a[4], double *const s[4]) {
  double *__restrict s0 = s[0], *__restrict s1 = s[1], *__restrict s2 = s[2],
                     *__restrict s3 = s[3];
  for (int j = 0; j < cols; ++j) {
    const double *__restrict w = wT + static_cast<size_t>(j) * static_cast<size_t>(stride);
    const double a0 = a[0][j], a1 = a[1][j], a2 = a[2][j], a3 = a[3][j];
    for (int k = 0; k < stride; ++k) {
      const double wk = w[k];
      s0[k] = s0[k] + wk * a0;
      s1[k] = s1[k] + wk * a1;
      s2[k] = s2[k] + wk * a2;
      s3[k] = s3[k] + wk * a3;
    }
  }
}

KESTRANE_WIDE_KERNEL void ColumnStep(int stride, int cols, double *wT, double *dT,
                                     const double *delta, const double *y, double rate,
                                     double momentum, const double *aNext, double *sNext) {
  if (momentum != 0) {
    if (aNext != nullptr)
      Columns<true, true>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
    else
      Columns<true, false>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
  } else {
    if (aNext != nullptr)
      Columns<false, true>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
    else
      Columns<false, false>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
  }
}

} // namespace kernels
} // namespace kestrane
