#include "NeuralNets/ColumnKernels.h"

#include <cstddef>
#include <cstring>

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

template <bool Momentum>
KESTRANE_KERNEL_INLINE void Rows(int rows, int cols, double *__restrict w, double *__restrict d,
                                 const double *__restrict delta, double *__restrict dFrom,
                                 const double *__restrict y, double rate, double momentum) {
  for (int k = 0; k < rows; ++k) {
    const double di = delta[k];
    double *__restrict wk = w + static_cast<size_t>(k) * static_cast<size_t>(cols);
    double *__restrict dk = d + static_cast<size_t>(k) * static_cast<size_t>(cols);
    for (int j = 0; j < cols; ++j) {
      const double wj = wk[j];
      dFrom[j] = dFrom[j] + wj * di;
      const double g = 0.0 + di * y[j];
      if (Momentum) {
        const double change = -rate * g + momentum * dk[j];
        dk[j] = change;
        wk[j] = wj + change;
      } else {
        wk[j] = wj - rate * g;
      }
    }
  }
}

// Rows whose length is a multiple of four, four lanes at a time.
typedef double Lanes __attribute__((vector_size(32)));

template <bool Momentum>
KESTRANE_KERNEL_INLINE void LaneRows(int rows, int cols, double *w, double *d,
                                     const double *delta, double *dFrom, const double *y,
                                     double rate, double momentum) {
  const Lanes zero = {0.0, 0.0, 0.0, 0.0};
  const Lanes r = {-rate, -rate, -rate, -rate};
  const Lanes plainRate = {rate, rate, rate, rate};
  const Lanes m = {momentum, momentum, momentum, momentum};
  for (int k = 0; k < rows; ++k) {
    const Lanes di = {delta[k], delta[k], delta[k], delta[k]};
    double *wk = w + static_cast<size_t>(k) * static_cast<size_t>(cols);
    double *dk = d + static_cast<size_t>(k) * static_cast<size_t>(cols);
    for (int j = 0; j < cols; j += 4) {
      Lanes wj, down, yj;
      std::memcpy(&wj, wk + j, sizeof wj);
      std::memcpy(&down, dFrom + j, sizeof down);
      std::memcpy(&yj, y + j, sizeof yj);
      down = down + wj * di;
      std::memcpy(dFrom + j, &down, sizeof down);
      const Lanes g = zero + di * yj;
      if (Momentum) {
        Lanes change;
        std::memcpy(&change, dk + j, sizeof change);
        change = r * g + m * change;
        std::memcpy(dk + j, &change, sizeof change);
        wj = wj + change;
      } else {
        wj = wj - plainRate * g;
      }
      std::memcpy(wk + j, &wj, sizeof wj);
    }
  }
}

// Columns of at most 16 rows: the loop over a column is too short for the
// compiler's vector loop to pay for its set-up.
template <bool Momentum, bool Next>
KESTRANE_KERNEL_INLINE void LaneColumns(int stride, int cols, double *wT, double *dT,
                                        const double *delta, const double *y, double rate,
                                        double momentum, const double *aNext, double *sNext) {
  const Lanes zero = {0.0, 0.0, 0.0, 0.0};
  const Lanes r = {-rate, -rate, -rate, -rate};
  const Lanes plainRate = {rate, rate, rate, rate};
  const Lanes m = {momentum, momentum, momentum, momentum};
  for (int j = 0; j < cols; ++j) {
    const size_t at = static_cast<size_t>(j) * static_cast<size_t>(stride);
    double *w = wT + at;
    double *d = dT + at;
    const Lanes yj = {y[j], y[j], y[j], y[j]};
    const double a = Next ? aNext[j] : 0.0;
    const Lanes aj = {a, a, a, a};
    for (int k = 0; k < stride; k += 4) {
      Lanes dk, wk;
      std::memcpy(&dk, delta + k, sizeof dk);
      std::memcpy(&wk, w + k, sizeof wk);
      const Lanes g = zero + dk * yj;
      if (Momentum) {
        Lanes change;
        std::memcpy(&change, d + k, sizeof change);
        change = r * g + m * change;
        std::memcpy(d + k, &change, sizeof change);
        wk = wk + change;
      } else {
        wk = wk - plainRate * g;
      }
      std::memcpy(w + k, &wk, sizeof wk);
      if (Next) {
        Lanes sk;
        std::memcpy(&sk, sNext + k, sizeof sk);
        sk = sk + wk * aj;
        std::memcpy(sNext + k, &sk, sizeof sk);
      }
    }
  }
}

template <bool Momentum, bool Next>
KESTRANE_KERNEL_INLINE void StepColumns(int stride, int cols, double *wT, double *dT,
                                        const double *delta, const double *y, double rate,
                                        double momentum, const double *aNext, double *sNext) {
  if (stride <= 16)
    LaneColumns<Momentum, Next>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
  else
    Columns<Momentum, Next>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
}

} // namespace

KESTRANE_WIDE_KERNEL void RowStep(int rows, int cols, double *w, double *d, const double *delta,
                                  double *dFrom, const double *y, double rate, double momentum) {
  if (cols % 4 == 0 && cols <= 16) {
    if (momentum != 0)
      LaneRows<true>(rows, cols, w, d, delta, dFrom, y, rate, momentum);
    else
      LaneRows<false>(rows, cols, w, d, delta, dFrom, y, rate, momentum);
  } else if (momentum != 0) {
    Rows<true>(rows, cols, w, d, delta, dFrom, y, rate, momentum);
  } else {
    Rows<false>(rows, cols, w, d, delta, dFrom, y, rate, momentum);
  }
}

KESTRANE_WIDE_KERNEL void PassDown4(int rows, int cols, const double *w,
                                    const double *const delta[4], double *const dFrom[4]) {
  double *__restrict f0 = dFrom[0], *__restrict f1 = dFrom[1], *__restrict f2 = dFrom[2],
                     *__restrict f3 = dFrom[3];
  for (int k = 0; k < rows; ++k) {
    const double *__restrict wk = w + static_cast<size_t>(k) * static_cast<size_t>(cols);
    const double d0 = delta[0][k], d1 = delta[1][k], d2 = delta[2][k], d3 = delta[3][k];
    for (int j = 0; j < cols; ++j) {
      const double wj = wk[j];
      f0[j] = f0[j] + wj * d0;
      f1[j] = f1[j] + wj * d1;
      f2[j] = f2[j] + wj * d2;
      f3[j] = f3[j] + wj * d3;
    }
  }
}

KESTRANE_WIDE_KERNEL void AddColumnSums(int stride, int cols, const double *wT, const double *a,
                                        double *s) {
  if (stride <= 16) {
    for (int j = 0; j < cols; ++j) {
      const double *w = wT + static_cast<size_t>(j) * static_cast<size_t>(stride);
      const Lanes aj = {a[j], a[j], a[j], a[j]};
      for (int k = 0; k < stride; k += 4) {
        Lanes sk, wk;
        std::memcpy(&sk, s + k, sizeof sk);
        std::memcpy(&wk, w + k, sizeof wk);
        sk = sk + wk * aj;
        std::memcpy(s + k, &sk, sizeof sk);
      }
    }
    return;
  }
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
  if (stride <= 16) {
    for (int j = 0; j < cols; ++j) {
      const double *w = wT + static_cast<size_t>(j) * static_cast<size_t>(stride);
      const Lanes a0 = {a[0][j], a[0][j], a[0][j], a[0][j]};
      const Lanes a1 = {a[1][j], a[1][j], a[1][j], a[1][j]};
      const Lanes a2 = {a[2][j], a[2][j], a[2][j], a[2][j]};
      const Lanes a3 = {a[3][j], a[3][j], a[3][j], a[3][j]};
      for (int k = 0; k < stride; k += 4) {
        Lanes wk, s0, s1, s2, s3;
        std::memcpy(&wk, w + k, sizeof wk);
        std::memcpy(&s0, s[0] + k, sizeof s0);
        std::memcpy(&s1, s[1] + k, sizeof s1);
        std::memcpy(&s2, s[2] + k, sizeof s2);
        std::memcpy(&s3, s[3] + k, sizeof s3);
        s0 = s0 + wk * a0;
        s1 = s1 + wk * a1;
        s2 = s2 + wk * a2;
        s3 = s3 + wk * a3;
        std::memcpy(s[0] + k, &s0, sizeof s0);
        std::memcpy(s[1] + k, &s1, sizeof s1);
        std::memcpy(s[2] + k, &s2, sizeof s2);
        std::memcpy(s[3] + k, &s3, sizeof s3);
      }
    }
    return;
  }
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
      StepColumns<true, true>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
    else
      StepColumns<true, false>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
  } else {
    if (aNext != nullptr)
      StepColumns<false, true>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
    else
      StepColumns<false, false>(stride, cols, wT, dT, delta, y, rate, momentum, aNext, sNext);
  }
}

} // namespace kernels
} // namespace kestrane
