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
// Those gradients go into the gradient store's centres, so the step is the
// one every other weight takes (learning rate and momentum, batch or
// on-line). After every step each input's centres are kept in order, a gap
// apart, and within the input range (see CentreBounds). The output centres
// stay as they are: they define the targets' degrees.
//
// The fast epoch serves this class without TVemoBP's pattern loop, which
// knows nothing of the centres; a subclass takes the general path.

#include "Vemo/TVemoBP.h"

#include <vector>

namespace kestrane {

class TConditionLayer;

// Where one input's centres may go: [low, high], consecutive centres at
// least `gap` apart. From a network's centres as they stand: the range is
// [0, 1] (inputs are scaled into it), widened to take in centres already
// outside it; the gap is a tenth of the even spacing, or less when two
// centres start closer than that.
struct CentreBounds {
  double low = 0.0, high = 1.0, gap = 0.0;
};
std::vector<CentreBounds> CentreBoundsOf(const TConditionLayer &layer);

// Moves the centres of every input into its bounds: each in turn is raised
// to its left neighbour plus the gap and kept low enough to leave room for
// the ones after it. Centres already within their bounds keep their bits.
void KeepCentresInBounds(TConditionLayer &layer, const std::vector<CentreBounds> &bounds);

class TVemoBPCentres : public TVemoBP {
public:
  // As TVemoBP; raises TException ("Bad Parameter", "TVemoBPCentres::TVemoBPCentres")
  // also when the condition layer's membership functions are not the
  // triangles of ActVemoCondition.
  explicit TVemoBPCentres(TBasicNetwork *network);
  ~TVemoBPCentres() override = default;

  // TVemoBP's pass, then the centres' gradients.
  void BackpropagateDeltas(bool crossEntropy) override;
  // The step, then the centres back into their bounds.
  void UpdateWeights(TKQstructure *record) override;

private:
  std::vector<CentreBounds> bounds; // per input, fixed when the module is made
};

} // namespace kestrane

#endif
