#include "Vemo/PatternKernels.h"

#include "NeuralNets/ExpOf.h"
#include "NeuralNets/KernelTargets.h"

#include <cstring>

namespace kestrane {
namespace kernels {

namespace {

typedef double Lanes __attribute__((vector_size(32)));
typedef decltype(Lanes{} < Lanes{}) Mask;

// Loads through memcpy: the arrays need no alignment.
template <typename V, typename T>
KESTRANE_KERNEL_INLINE void Load(V &v, const T *p) {
  std::memcpy(&v, p, sizeof v);
}

} // namespace

void Triangles::Size(int n) {
  count = n;
  stride = (n + 3) / 4 * 4;
  const size_t s = static_cast<size_t>(stride);
  inputOf.assign(s, 0);
  centre.assign(s, 0.0);
  left.assign(s, 0.0);
  right.assign(s, 0.0);
  hasLeft.assign(s, 0);
  hasRight.assign(s, 0);
}

// The one-neuron code computes both slopes and picks one; here the side is
// picked first and only its quotient computed (the same operands, so the
// same bits), which halves the divisions.
KESTRANE_WIDE_KERNEL void Degrees(const Triangles &t, const double *x, double *degrees) {
  const Lanes zero = {0.0, 0.0, 0.0, 0.0};
  const Lanes one = {1.0, 1.0, 1.0, 1.0};
  for (int j = 0; j < t.stride; j += 4) {
    const int *from = t.inputOf.data() + j;
    const Lanes n = {x[from[0]], x[from[1]], x[from[2]], x[from[3]]};
    Lanes c, l, r;
    Mask hasLeft, hasRight;
    Load(c, t.centre.data() + j);
    Load(l, t.left.data() + j);
    Load(r, t.right.data() + j);
    Load(hasLeft, t.hasLeft.data() + j);
    Load(hasRight, t.hasRight.data() + j);
    const Mask fall = hasRight & (c <= n) & (n < r);
    const Mask rise = hasLeft & (l < n) & (n <= c);
    const Lanes num = fall ? n - c : c - n;
    const Lanes den = fall ? r - c : c - l;
    const Lanes slope = one - num / den;
    Lanes v = (fall | rise) ? slope : zero;
    v = (~hasRight & (n >= c)) ? one : v;
    v = (~hasLeft & (n <= c)) ? one : v;
    std::memcpy(degrees + j, &v, sizeof v);
  }
}

// The exps one at a time (a library call each) into a short scratch array,
// then the quotients four at once.
KESTRANE_WIDE_KERNEL void Sigmoids(const double *sums, double *a, int n) {
  const Lanes one = {1.0, 1.0, 1.0, 1.0};
  const Lanes floor = {-500.0, -500.0, -500.0, -500.0};
  const Lanes tiny = {1e-300, 1e-300, 1e-300, 1e-300};
  constexpr int kChunk = 16;
  double e[kChunk];
  int k = 0;
  while (k + 4 <= n) {
    const int m = (n - k < kChunk ? n - k : kChunk) / 4 * 4;
    for (int i = 0; i < m; ++i) {
      const double net = 0.0 + sums[k + i];
      e[i] = net < -500.0 ? 0.0 : ExpOf(-net);
    }
    for (int i = 0; i < m; i += 4, k += 4) {
      Lanes net, ei;
      Load(net, sums + k);
      Load(ei, e + i);
      net = 0.0 + net;
      const Lanes v = net < floor ? tiny : one / (one + ei);
      std::memcpy(a + k, &v, sizeof v);
    }
  }
  for (; k < n; ++k) {
    const double net = 0.0 + sums[k];
    a[k] = net < -500.0 ? 1e-300 : 1.0 / (1.0 + ExpOf(-net));
  }
}

KESTRANE_WIDE_KERNEL void SigmoidSlopes(double *delta, const double *y, int n) {
  const Lanes one = {1.0, 1.0, 1.0, 1.0};
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    Lanes d, yk;
    Load(d, delta + k);
    Load(yk, y + k);
    d = d * (yk * (one - yk));
    std::memcpy(delta + k, &d, sizeof d);
  }
  for (; k < n; ++k)
    delta[k] *= y[k] * (1 - y[k]);
}

} // namespace kernels
} // namespace kestrane
