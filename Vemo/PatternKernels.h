#ifndef KESTRANE_VEMO_PATTERNKERNELS_H
#define KESTRANE_VEMO_PATTERNKERNELS_H

// The pattern loop's element-wise steps, four neurons per instruction: the
// condition degrees and the sigmoid layers. Each lane does the operations of
// the one-neuron code in its order, so the bits are the same.

#include <vector>

namespace kestrane {
namespace kernels {

// The condition neurons' triangles, one array per field, padded to a
// multiple of four (the spare neurons read input 0 and are never used).
struct Triangles {
  int count = 0, stride = 0;
  std::vector<int> inputOf;
  std::vector<double> centre, left, right;  // a missing neighbour: the centre
  std::vector<long long> hasLeft, hasRight; // -1 when the neighbour exists
  void Size(int n);
};

// The degree of every condition neuron for the input x: the triangle's
// slope towards the neighbour on the side of x, 1 on a shoulder (no
// neighbour on that side) or at the centre, 0 beyond. degrees spans the
// stride.
void Degrees(const Triangles &t, const double *x, double *degrees);

// a[k] = sigmoid(+0.0 + sums[k]) for k < n (in place allowed).
void Sigmoids(const double *sums, double *a, int n);

// delta[k] = delta[k] * (y[k] * (1 - y[k])) for k < n: the sigmoid's slope.
void SigmoidSlopes(double *delta, const double *y, int n);

} // namespace kernels
} // namespace kestrane

#endif
