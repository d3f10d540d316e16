#include "NeuralNets/RowSums.h"

#include "NeuralNets/KernelTargets.h"
#include "NeuralNets/TBasicConnections.h"

namespace kestrane {
namespace kernels {

namespace {

// R rows at once: each row's sum is its own dependency chain, so interleaving
// rows keeps the adder busy while every sum keeps its order.
template <int R>
inline void RowSums(int f, const double *w, const double *a, double *net) {
  double s[R];
  for (int r = 0; r < R; ++r)
    s[r] = 0.0;
  for (int j = 0; j < f; ++j) {
    const double x = a[j];
    for (int r = 0; r < R; ++r)
      s[r] = s[r] + w[r * static_cast<ptrdiff_t>(f) + j] * x;
  }
  for (int r = 0; r < R; ++r)
    net[r] = net[r] + s[r];
}

inline void MaskedRowSum(int f, const double *w, const unsigned char *m, const double *a,
                         double *net) {
  double s = 0.0;
  for (int j = 0; j < f; ++j)
    if (m[j] & FMaskExists)
      s = s + w[j] * a[j];
  *net = *net + s;
}

// Rows k .. k+R-1 as one interleaved group when all their arcs exist.
template <int R>
int RowGroups(int k, int t, int f, const double *w, const unsigned char *mask, const double *a,
              double *net) {
  const size_t stride = static_cast<size_t>(f);
  for (; k + R <= t; k += R) {
    if (mask == nullptr || AllHave(mask + k * stride, R * stride, FMaskExists)) {
      RowSums<R>(f, w + k * stride, a, net + k);
    } else {
      for (int r = k; r < k + R; ++r)
        MaskedRowSum(f, w + r * stride, mask + r * stride, a, net + r);
    }
  }
  return k;
}

typedef double Lanes __attribute__((vector_size(32)));

// Four rows of f arcs, f a multiple of 4, every arc there: each 4 x 4 block
// of weights is turned so that one vector holds the four rows' weights of
// one column; the four sums then run in the lanes, column after column.
KESTRANE_KERNEL_INLINE void FourRows(int f, const double *w, const double *a, double *net) {
  const size_t stride = static_cast<size_t>(f);
  Lanes s = {0.0, 0.0, 0.0, 0.0};
  for (int j = 0; j < f; j += 4) {
    Lanes r0, r1, r2, r3;
    std::memcpy(&r0, w + j, sizeof r0);
    std::memcpy(&r1, w + stride + j, sizeof r1);
    std::memcpy(&r2, w + 2 * stride + j, sizeof r2);
    std::memcpy(&r3, w + 3 * stride + j, sizeof r3);
    const Lanes t0 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6);
    const Lanes t1 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7);
    const Lanes t2 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6);
    const Lanes t3 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
    const Lanes a0 = {a[j], a[j], a[j], a[j]}, a1 = {a[j + 1], a[j + 1], a[j + 1], a[j + 1]};
    const Lanes a2 = {a[j + 2], a[j + 2], a[j + 2], a[j + 2]};
    const Lanes a3 = {a[j + 3], a[j + 3], a[j + 3], a[j + 3]};
    s = s + __builtin_shufflevector(t0, t2, 0, 1, 4, 5) * a0;
    s = s + __builtin_shufflevector(t1, t3, 0, 1, 4, 5) * a1;
    s = s + __builtin_shufflevector(t0, t2, 2, 3, 6, 7) * a2;
    s = s + __builtin_shufflevector(t1, t3, 2, 3, 6, 7) * a3;
  }
  for (int r = 0; r < 4; ++r)
    net[r] = net[r] + s[r];
}

KESTRANE_KERNEL_INLINE int FourRowGroups(int k, int t, int f, const double *w,
                                         const unsigned char *mask, const double *a, double *net) {
  const size_t stride = static_cast<size_t>(f);
  for (; k + 4 <= t; k += 4) {
    if (mask == nullptr || AllHave(mask + k * stride, 4 * stride, FMaskExists)) {
      FourRows(f, w + k * stride, a, net + k);
    } else {
      for (int r = k; r < k + 4; ++r)
        MaskedRowSum(f, w + r * stride, mask + r * stride, a, net + r);
    }
  }
  return k;
}

} // namespace

KESTRANE_WIDE_KERNEL void AddRowSums(int t, int f, const double *w, const unsigned char *mask,
                                     const double *a, double *net) {
  if (f % 4 == 0) {
    const int k = FourRowGroups(0, t, f, w, mask, a, net);
    RowGroups<1>(k, t, f, w, mask, a, net);
    return;
  }
  int k = RowGroups<8>(0, t, f, w, mask, a, net);
  k = RowGroups<4>(k, t, f, w, mask, a, net);
  k = RowGroups<2>(k, t, f, w, mask, a, net);
  RowGroups<1>(k, t, f, w, mask, a, net);
}

} // namespace kernels
} // namespace kestrane
