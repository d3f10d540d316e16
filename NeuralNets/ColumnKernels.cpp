#include "NeuralNets/ColumnKernels.h"

#include "NeuralNets/KernelTargets.h"

#include <cstddef>
#include <cstring>

namespace kestrane {
namespace kernels {

namespace {

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

// The step of four arcs from their gradients g, as the row-stored step takes
// it: w -= rate * g, or with momentum d = -rate * g + momentum * d, w += d.
template <bool Momentum>
KESTRANE_KERNEL_INLINE void StepLanes(Lanes &w, const Lanes &g, double *d, const Lanes &negRate,
                                      const Lanes &rate, const Lanes &momentum) {
  if (Momentum) {
    Lanes change;
    std::memcpy(&change, d, sizeof change);
    change = negRate * g + momentum * change;
    std::memcpy(d, &change, sizeof change);
    w = w + change;
  } else {
    w = w - rate * g;
  }
}

template <bool Momentum>
KESTRANE_KERNEL_INLINE void LaneRows(int rows, int cols, double *w, double *d, const double *delta,
                                     double *dFrom, const double *y, double rate, double momentum) {
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
      StepLanes<Momentum>(wj, g, dk + j, r, plainRate, m);
      std::memcpy(wk + j, &wj, sizeof wj);
    }
  }
}

// LaneRows for rows of 4 S arcs: the errors passed down and the activations
// stay in registers while the rows go by.
template <bool Momentum, int S>
KESTRANE_KERNEL_INLINE void FixedRows(int rows, double *w, double *d, const double *delta,
                                      double *dFrom, const double *y, double rate,
                                      double momentum) {
  const Lanes zero = {0.0, 0.0, 0.0, 0.0};
  const Lanes r = {-rate, -rate, -rate, -rate};
  const Lanes plainRate = {rate, rate, rate, rate};
  const Lanes m = {momentum, momentum, momentum, momentum};
  Lanes down[S], yl[S];
  for (int i = 0; i < S; ++i) {
    std::memcpy(&down[i], dFrom + 4 * i, sizeof(Lanes));
    std::memcpy(&yl[i], y + 4 * i, sizeof(Lanes));
  }
  for (int k = 0; k < rows; ++k) {
    const Lanes di = {delta[k], delta[k], delta[k], delta[k]};
    double *wk = w + static_cast<size_t>(k) * (4 * S);
    double *dk = d + static_cast<size_t>(k) * (4 * S);
    for (int i = 0; i < S; ++i) {
      Lanes wj;
      std::memcpy(&wj, wk + 4 * i, sizeof wj);
      down[i] = down[i] + wj * di;
      const Lanes g = zero + di * yl[i];
      StepLanes<Momentum>(wj, g, dk + 4 * i, r, plainRate, m);
      std::memcpy(wk + 4 * i, &wj, sizeof wj);
    }
  }
  for (int i = 0; i < S; ++i)
    std::memcpy(dFrom + 4 * i, &down[i], sizeof(Lanes));
}

template <bool Momentum>
KESTRANE_KERNEL_INLINE void FixedOrLaneRows(int rows, int cols, double *w, double *d,
                                            const double *delta, double *dFrom, const double *y,
                                            double rate, double momentum) {
  switch (cols) {
  case 4:
    return FixedRows<Momentum, 1>(rows, w, d, delta, dFrom, y, rate, momentum);
  case 8:
    return FixedRows<Momentum, 2>(rows, w, d, delta, dFrom, y, rate, momentum);
  case 12:
    return FixedRows<Momentum, 3>(rows, w, d, delta, dFrom, y, rate, momentum);
  default:
    return FixedRows<Momentum, 4>(rows, w, d, delta, dFrom, y, rate, momentum);
  }
}

// The step of 4 S rows (from the row that wT, dT, delta and sNext point at)
// of columns `stride` apart: the deltas and the next pattern's sums stay in
// registers while the columns go by.
template <bool Momentum, bool Next, int S>
KESTRANE_KERNEL_INLINE void FixedColumns(int cols, size_t stride, double *wT, double *dT,
                                         const double *delta, const double *y, double rate,
                                         double momentum, const double *aNext, double *sNext) {
  const Lanes zero = {0.0, 0.0, 0.0, 0.0};
  const Lanes r = {-rate, -rate, -rate, -rate};
  const Lanes plainRate = {rate, rate, rate, rate};
  const Lanes m = {momentum, momentum, momentum, momentum};
  Lanes dl[S], sn[S];
  for (int i = 0; i < S; ++i) {
    std::memcpy(&dl[i], delta + 4 * i, sizeof(Lanes));
    if (Next)
      std::memcpy(&sn[i], sNext + 4 * i, sizeof(Lanes));
  }
  for (int j = 0; j < cols; ++j) {
    const size_t at = static_cast<size_t>(j) * stride;
    double *w = wT + at;
    double *d = dT + at;
    const Lanes yj = {y[j], y[j], y[j], y[j]};
    const double a = Next ? aNext[j] : 0.0;
    const Lanes aj = {a, a, a, a};
    for (int i = 0; i < S; ++i) {
      Lanes wk;
      std::memcpy(&wk, w + 4 * i, sizeof wk);
      const Lanes g = zero + dl[i] * yj;
      StepLanes<Momentum>(wk, g, d + 4 * i, r, plainRate, m);
      std::memcpy(w + 4 * i, &wk, sizeof wk);
      if (Next)
        sn[i] = sn[i] + wk * aj;
    }
  }
  if (Next)
    for (int i = 0; i < S; ++i)
      std::memcpy(sNext + 4 * i, &sn[i], sizeof(Lanes));
}

template <bool Momentum, bool Next>
KESTRANE_KERNEL_INLINE void StepColumns(int stride, int cols, double *wT, double *dT,
                                        const double *delta, const double *y, double rate,
                                        double momentum, const double *aNext, double *sNext) {
  // Blocks of 16 rows, then the last 4, 8 or 12: each block's sums are
  // written once, not once per column.
  const size_t cs = static_cast<size_t>(stride);
  int k = 0;
  for (; k + 16 <= stride; k += 16)
    FixedColumns<Momentum, Next, 4>(cols, cs, wT + k, dT + k, delta + k, y, rate, momentum, aNext,
                                    Next ? sNext + k : nullptr);
  switch (stride - k) {
  case 4:
    return FixedColumns<Momentum, Next, 1>(cols, cs, wT + k, dT + k, delta + k, y, rate, momentum,
                                           aNext, Next ? sNext + k : nullptr);
  case 8:
    return FixedColumns<Momentum, Next, 2>(cols, cs, wT + k, dT + k, delta + k, y, rate, momentum,
                                           aNext, Next ? sNext + k : nullptr);
  case 12:
    return FixedColumns<Momentum, Next, 3>(cols, cs, wT + k, dT + k, delta + k, y, rate, momentum,
                                           aNext, Next ? sNext + k : nullptr);
  default:
    return;
  }
}

} // namespace

KESTRANE_WIDE_KERNEL void RowStep(int rows, int cols, double *w, double *d, const double *delta,
                                  double *dFrom, const double *y, double rate, double momentum) {
  if (cols % 4 == 0 && cols <= 16) {
    if (momentum != 0)
      FixedOrLaneRows<true>(rows, cols, w, d, delta, dFrom, y, rate, momentum);
    else
      FixedOrLaneRows<false>(rows, cols, w, d, delta, dFrom, y, rate, momentum);
  } else if (momentum != 0) {
    Rows<true>(rows, cols, w, d, delta, dFrom, y, rate, momentum);
  } else {
    Rows<false>(rows, cols, w, d, delta, dFrom, y, rate, momentum);
  }
}

// For four patterns p at once, sums[p][lane] += line_i[lane] * x[p][i] over
// the lines i in order, on 4 R lanes kept in registers meanwhile: the layer
// sums of AddColumnSums4 (lines: columns) and the errors of PassDown4 (lines:
// rows) alike. FromZero: the sums start at +0.0 instead of their stored
// values (the same bits as storing +0.0 first).
template <int R, size_t FixedStride = 0>
KESTRANE_KERNEL_INLINE void AddLines(int lines, const double *first, size_t lineStride,
                                     const double *const x[4], double *const sums[4], size_t at,
                                     bool fromZero) {
  if (FixedStride > 0)
    lineStride = FixedStride; // rows of a known length: the addresses fold
  Lanes acc[4][R];
  for (int p = 0; p < 4; ++p)
    for (int r = 0; r < R; ++r)
      if (fromZero)
        acc[p][r] = Lanes{0.0, 0.0, 0.0, 0.0};
      else
        std::memcpy(&acc[p][r], sums[p] + at + 4 * r, sizeof(Lanes));
  for (int i = 0; i < lines; ++i) {
    const double *line = first + static_cast<size_t>(i) * lineStride;
    Lanes wr[R];
    for (int r = 0; r < R; ++r)
      std::memcpy(&wr[r], line + 4 * r, sizeof(Lanes));
    for (int p = 0; p < 4; ++p) {
      const double v = x[p][i];
      const Lanes xp = {v, v, v, v};
      for (int r = 0; r < R; ++r)
        acc[p][r] = acc[p][r] + wr[r] * xp;
    }
  }
  for (int p = 0; p < 4; ++p)
    for (int r = 0; r < R; ++r)
      std::memcpy(sums[p] + at + 4 * r, &acc[p][r], sizeof(Lanes));
}

KESTRANE_WIDE_KERNEL void PassDown4(int rows, int cols, const double *w,
                                    const double *const delta[4], double *const dFrom[4],
                                    bool fromZero) {
  // Rows of at most 16 arcs: the four patterns' errors stay in registers.
  switch (cols) {
  case 4:
    return AddLines<1, 4>(rows, w, 4, delta, dFrom, 0, fromZero);
  case 8:
    return AddLines<2, 8>(rows, w, 8, delta, dFrom, 0, fromZero);
  case 12:
    return AddLines<3, 12>(rows, w, 12, delta, dFrom, 0, fromZero);
  case 16:
    return AddLines<4, 16>(rows, w, 16, delta, dFrom, 0, fromZero);
  default:
    break;
  }
  if (fromZero)
    for (int p = 0; p < 4; ++p)
      std::memset(dFrom[p], 0, static_cast<size_t>(cols) * sizeof(double));
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

// Rows in blocks of 4 R, each block's four sums kept in registers while the
// columns go by.
template <int R>
KESTRANE_KERNEL_INLINE int SumBlocks(int k, int stride, int cols, const double *wT,
                                     const double *const a[4], double *const s[4], bool fromZero) {
  for (; k + 4 * R <= stride; k += 4 * R)
    AddLines<R>(cols, wT + k, static_cast<size_t>(stride), a, s, static_cast<size_t>(k), fromZero);
  return k;
}

KESTRANE_WIDE_KERNEL void AddColumnSums4(int stride, int cols, const double *wT,
                                         const double *const a[4], double *const s[4],
                                         bool fromZero) {
  const int k = SumBlocks<2>(0, stride, cols, wT, a, s, fromZero);
  SumBlocks<1>(k, stride, cols, wT, a, s, fromZero);
}

template <int N>
KESTRANE_KERNEL_INLINE void ColumnGradients(int stride, int cols, double *gT, int n,
                                            const double *const delta[4],
                                            const double *const y[4]) {
  const int count = N > 0 ? N : n;
  // Local copies of the pointers: the stores to g cannot change them.
  const double *d[4], *yp[4];
  for (int p = 0; p < count; ++p) {
    d[p] = delta[p];
    yp[p] = y[p];
  }
  for (int j = 0; j < cols; ++j) {
    double *g = gT + static_cast<size_t>(j) * static_cast<size_t>(stride);
    double yj[4];
    for (int p = 0; p < count; ++p)
      yj[p] = yp[p][j];
    for (int k = 0; k < stride; k += 4) {
      Lanes gk;
      std::memcpy(&gk, g + k, sizeof gk);
      for (int p = 0; p < count; ++p) {
        Lanes dk;
        std::memcpy(&dk, d[p] + k, sizeof dk);
        const Lanes yp = {yj[p], yj[p], yj[p], yj[p]};
        gk = gk + dk * yp;
      }
      std::memcpy(g + k, &gk, sizeof gk);
    }
  }
}

// Gradients held by columns: gT[j][k] = g + delta[p][k] * y[p][j] for the n
// patterns in order.
KESTRANE_WIDE_KERNEL void AddColumnGradients(int stride, int cols, double *gT, int n,
                                             const double *const delta[4],
                                             const double *const y[4]) {
  if (n == 4)
    ColumnGradients<4>(stride, cols, gT, n, delta, y);
  else
    ColumnGradients<0>(stride, cols, gT, n, delta, y);
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
