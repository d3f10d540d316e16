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
// then the quotients four at once. The exp is taken for every sum, without
// the branch on the floor: below it the quotient is not picked, and no
// errno is set (ExpOf.h).
KESTRANE_WIDE_KERNEL void Sigmoids(const double *sums, double *a, int n) {
  const Lanes one = {1.0, 1.0, 1.0, 1.0};
  const Lanes floor = {-500.0, -500.0, -500.0, -500.0};
  const Lanes tiny = {1e-300, 1e-300, 1e-300, 1e-300};
  constexpr int kChunk = 16;
  double e[kChunk];
  for (int first = 0; first < n; first += kChunk) {
    const int m = n - first < kChunk ? n - first : kChunk;
    const double *s = sums + first;
    double *out = a + first;
    for (int i = 0; i < m; ++i)
      e[i] = ExpOf(-(0.0 + s[i]));
    int i = 0;
    for (; i + 4 <= m; i += 4) {
      Lanes net, ei;
      Load(net, s + i);
      Load(ei, e + i);
      net = 0.0 + net;
      const Lanes v = net < floor ? tiny : one / (one + ei);
      std::memcpy(out + i, &v, sizeof v);
    }
    for (; i < m; ++i) {
      const double net = 0.0 + s[i];
      out[i] = net < -500.0 ? 1e-300 : 1.0 / (1.0 + e[i]);
    }
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

namespace {

// Lane p of v: values[p][at], for the four patterns.
KESTRANE_KERNEL_INLINE void Gather(Lanes &v, const double *const values[4], int at) {
  v = Lanes{values[0][at], values[1][at], values[2][at], values[3][at]};
}

// Term i's centres in the four lanes: one centre for all (Across false:
// c[i]) or one per lane (Across true: c[4 i .. 4 i + 3]).
template <bool Across>
KESTRANE_KERNEL_INLINE void Centre(Lanes &v, const double *c, int i) {
  if (Across)
    std::memcpy(&v, c + 4 * i, sizeof v);
  else
    v = Lanes{c[i], c[i], c[i], c[i]};
}

// TVemoBP::DesiredDegrees on four values at once: the same comparisons pick
// the same case, and only the picked quotient is computed. mu[4 i + lane].
template <bool Across>
KESTRANE_KERNEL_INLINE void DesiredDegrees4(const Lanes &x, const double *c, int m, double *mu) {
  const Lanes zero = {0.0, 0.0, 0.0, 0.0};
  const Lanes one = {1.0, 1.0, 1.0, 1.0};
  {
    Lanes c0, c1;
    Centre<Across>(c0, c, 0);
    Centre<Across>(c1, c, 1);
    const Lanes slope = one - (x - c0) / (c1 - c0);
    const Lanes v = x <= c0 ? one : (x < c1 ? slope : zero);
    std::memcpy(mu, &v, sizeof v);
  }
  for (int i = 1; i < m - 1; ++i) {
    Lanes L, C, R;
    Centre<Across>(L, c, i - 1);
    Centre<Across>(C, c, i);
    Centre<Across>(R, c, i + 1);
    const Mask fall = (C < x) & (x < R);
    const Mask rise = (L < x) & (x < C);
    const Lanes num = fall ? x - C : C - x;
    const Lanes den = fall ? R - C : C - L;
    const Lanes slope = one - num / den;
    const Lanes v = (fall | rise) ? slope : (x == C ? one : zero);
    std::memcpy(mu + 4 * i, &v, sizeof v);
  }
  const int last = m - 1;
  Lanes cl, cb;
  Centre<Across>(cl, c, last);
  Centre<Across>(cb, c, last - 1);
  const Lanes slope = one - (cl - x) / (cl - cb);
  const Lanes v = x >= cl ? one : (cb < x ? slope : zero);
  std::memcpy(mu + 4 * last, &v, sizeof v);
}

// The pointers of the n patterns, the spare lanes pointing at pattern 0's.
KESTRANE_KERNEL_INLINE void FillLanes(int n, const double *const from[4], const double *to[4]) {
  for (int p = 0; p < 4; ++p)
    to[p] = from[p < n ? p : 0];
}

} // namespace

KESTRANE_WIDE_KERNEL void CentresOfGravity4(const ActionGroups &g, int n,
                                            const double *const actions[4], double *y) {
  const Lanes zero = {0.0, 0.0, 0.0, 0.0};
  const double *a[4];
  FillLanes(n, actions, a);
  int k = 0;
  for (int o = 0; o < g.numOut; ++o) {
    Lanes num = zero, den = zero;
    for (const int end = k + g.counts[o]; k < end; ++k) {
      Lanes ak;
      Gather(ak, a, k);
      const double c = g.centres[k];
      const Lanes ck = {c, c, c, c};
      num = num + ak * ck;
      den = den + ak;
    }
    // A sum that is 0 or not a number gives 0.
    const Mask none = ~((num < zero) | (num > zero)) | ~((den < zero) | (den > zero));
    const Lanes v = none ? zero : num / den;
    std::memcpy(y + 4 * o, &v, sizeof v);
  }
}

KESTRANE_WIDE_KERNEL void ActionErrors4(const ActionGroups &g, int n, const double *const out[4],
                                        const double *const target[4],
                                        const double *const actions[4], double *const delta[4],
                                        double *scratch) {
  const double *y[4], *t[4], *a[4];
  FillLanes(n, out, y);
  FillLanes(n, target, t);
  FillLanes(n, actions, a);
  int k = 0;
  for (int o = 0; o < g.numOut; ++o) {
    const int m = g.counts[o];
    Lanes yo, to;
    Gather(yo, y, o);
    Gather(to, t, o);
    const Lanes outputDelta = yo - to;
    DesiredDegrees4<false>(yo - outputDelta, g.centres + k, m, scratch);
    for (int l = 0; l < m; ++l, ++k) {
      Lanes mu, ak;
      Load(mu, scratch + 4 * l);
      Gather(ak, a, k);
      const Lanes d = ak - mu;
      for (int p = 0; p < n; ++p)
        delta[p][k] = d[p];
    }
  }
}

void OutputLanes::Set(int outputs, int terms, const double *c) {
  numOut = outputs;
  m = terms;
  centres.assign(4 * static_cast<size_t>(terms), 0.0);
  for (int l = 0; l < terms; ++l)
    for (int o = 0; o < 4; ++o)
      centres[4 * static_cast<size_t>(l) + static_cast<size_t>(o)] =
          c[(o < outputs ? o : 0) * terms + l];
}

KESTRANE_WIDE_KERNEL void CentresOfGravityAcross(const OutputLanes &g, const double *actions,
                                                 double *y) {
  const Lanes zero = {0.0, 0.0, 0.0, 0.0};
  const int m = g.m;
  int at[4];
  for (int o = 0; o < 4; ++o)
    at[o] = (o < g.numOut ? o : 0) * m;
  Lanes num = zero, den = zero;
  for (int l = 0; l < m; ++l) {
    const Lanes a = {actions[at[0] + l], actions[at[1] + l], actions[at[2] + l],
                     actions[at[3] + l]};
    Lanes c;
    Load(c, g.centres.data() + 4 * l);
    num = num + a * c;
    den = den + a;
  }
  // A sum that is 0 or not a number gives 0.
  const Mask none = ~((num < zero) | (num > zero)) | ~((den < zero) | (den > zero));
  const Lanes v = none ? zero : num / den;
  std::memcpy(y, &v, sizeof v);
}

KESTRANE_WIDE_KERNEL void ActionErrorsAcross(const OutputLanes &g, const double *out,
                                             const double *target, const double *actions,
                                             double *delta, double *scratch) {
  const int m = g.m;
  int at[4];
  for (int o = 0; o < 4; ++o)
    at[o] = o < g.numOut ? o : 0;
  const Lanes y = {out[at[0]], out[at[1]], out[at[2]], out[at[3]]};
  const Lanes t = {target[at[0]], target[at[1]], target[at[2]], target[at[3]]};
  const Lanes outputDelta = y - t;
  DesiredDegrees4<true>(y - outputDelta, g.centres.data(), m, scratch);
  for (int l = 0; l < m; ++l) {
    Lanes mu;
    Load(mu, scratch + 4 * l);
    for (int o = 0; o < g.numOut; ++o)
      delta[o * m + l] = actions[o * m + l] - mu[o];
  }
}

} // namespace kernels
} // namespace kestrane
