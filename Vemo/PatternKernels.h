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

// For n <= 4 patterns at once (lane p: pattern p; the lanes from n on
// repeat pattern 0 and are not written): the action nodes come in groups of
// counts[o] per output o, with the centres of their output terms.
struct ActionGroups {
  int numOut;
  const int *counts;
  const double *centres;
};

// Each output's centre of gravity, y[4 * o + p] = sum(a * c) / sum(a) over
// the group, summed in node order; 0 when either sum is 0 or not a number.
void CentresOfGravity4(const ActionGroups &g, int n, const double *const actions[4], double *y);

// The action nodes' errors before the slope: each target, recovered as
// out - (out - target), fuzzified with its output's terms (the triangles of
// the desired degrees: shoulders at both ends), delta = action - degree.
// scratch: four doubles per term of the largest group.
void ActionErrors4(const ActionGroups &g, int n, const double *const out[4],
                   const double *const target[4], const double *const actions[4],
                   double *const delta[4], double *scratch);

// One pattern's outputs side by side, lane o output o, when there are at
// most four and each has m terms (action nodes o m .. o m + m - 1).
struct OutputLanes {
  int numOut = 0, m = 0;
  std::vector<double> centres; // [4 l + o]; the spare lanes repeat output 0
  void Set(int outputs, int terms, const double *c);
};

// CentresOfGravity4 for the outputs of one pattern: y[o] (four written).
void CentresOfGravityAcross(const OutputLanes &g, const double *actions, double *y);

// ActionErrors4 for the outputs of one pattern. scratch: 4 m doubles.
void ActionErrorsAcross(const OutputLanes &g, const double *out, const double *target,
                        const double *actions, double *delta, double *scratch);

} // namespace kernels
} // namespace kestrane

#endif
