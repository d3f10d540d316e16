#include "NeuralNets/RowSums.h"

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

} // namespace

void AddRowSums(int t, int f, const double *w, const unsigned char *mask, const double *a,
                double *net) {
  int k = RowGroups<8>(0, t, f, w, mask, a, net);
  k = RowGroups<4>(k, t, f, w, mask, a, net);
  k = RowGroups<2>(k, t, f, w, mask, a, net);
  RowGroups<1>(k, t, f, w, mask, a, net);
}

} // namespace kernels
} // namespace kestrane
