#ifndef KESTRANE_VEMO_CENTRELEARNING_H
#define KESTRANE_VEMO_CENTRELEARNING_H

// Training of a TVemo that also moves the centres of the input membership
// functions. The backward pass of TVemoBP already carries the error down to
// the condition layer's deltas (dE/d degree); a triangle's degree is linear
// between its centre and each neighbour's, so its slope with respect to the
// three centres it reads is known in closed form:
//
//   c <= x < R:  mu = (R - x) / (R - c)   dmu/dc =  (R - x) / (R - c)^2
//                                         dmu/dR =  (x - c) / (R - c)^2
//   L < x <= c:  mu = (x - L) / (c - L)   dmu/dc = -(x - L) / (c - L)^2
//                                         dmu/dL = -(c - x) / (c - L)^2
//   on a shoulder (mu = 1) or outside the triangle: no slope.
//
// Only the inner centres of an input learn; its first and last stay where
// they are, so that every value between them lies on the slopes of two
// functions. Freed, an end drifts inwards until the data sits on its
// shoulder, where no slope pulls it back: on the accuracy benchmark such
// networks lost up to 70 points. The inner centres' gradients go into the
// gradient store, so they take the step every other weight takes (momentum,
// batch or on-line), at kCentreRateShare of the learning rate; after every
// step they are kept in order, a gap apart (see CentreBounds).
//
// The output centres stay as they are: they define the targets' degrees.
// The fast epoch serves this class without TVemoBP's pattern loop, which
// knows nothing of the centres; a subclass takes the general path.

#include "Vemo/TVemoBP.h"

#include <vector>

namespace kestrane {

class TConditionLayer;

// The centres' gradients are scaled by this before the step: the slope of a
// degree grows as its triangle narrows, and at the weights' own rate the
// centres overshoot from one row to the next. Chosen on the accuracy
// benchmark (README, "Accuracy").
inline constexpr double kCentreRateShare = 0.01;

// Where one input's inner centres may go: between its first centre `low`
// and its last `high`, consecutive centres at least `gap` apart: a tenth of
// the even spacing, or less when two centres start closer than that.
struct CentreBounds {
  double low = 0.0, high = 1.0, gap = 0.0;
};
std::vector<CentreBounds> CentreBoundsOf(const TConditionLayer &layer);

// Moves the inner centres of every input into its bounds, from the first on:
// each is raised to its left neighbour plus the gap and kept low enough to
// leave room for the ones after it. The ends are set to low and high;
// centres already within their bounds keep their bits.
void KeepCentresInBounds(TConditionLayer &layer, const std::vector<CentreBounds> &bounds);

class TVemoBPCentres : public TVemoBP {
public:
  // As TVemoBP; raises TException ("Bad Parameter", "TVemoBPCentres::TVemoBPCentres")
  // also when the condition layer's membership functions are not the
  // triangles of ActVemoCondition.
  explicit TVemoBPCentres(TBasicNetwork *network);
  ~TVemoBPCentres() override = default;

  // TVemoBP's pass, then the inner centres' gradients.
  void BackpropagateDeltas(bool crossEntropy) override;
  // The step, then the centres back into their bounds; their gradients are
  // zeroed for the next pattern.
  void UpdateWeights(TKQstructure *record) override;

private:
  std::vector<CentreBounds> bounds; // per input, fixed when the module is made
};

} // namespace kestrane

#endif
