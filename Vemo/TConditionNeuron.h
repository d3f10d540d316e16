#ifndef KESTRANE_VEMO_TCONDITIONNEURON_H
#define KESTRANE_VEMO_TCONDITIONNEURON_H

#include "NeuralNets/TBasicNeuron.h"

namespace kestrane {

// A neuron of the condition layer: one triangular membership function, 1 at
// its centre and 0 at its neighbours' centres (none at the ends: shoulders).
// The neighbours are neurons of the same input in the same layer array.
class TConditionNeuron : public TBasicNeuron {
public:
  double centre = 0.0;
  TConditionNeuron *left = nullptr;
  TConditionNeuron *right = nullptr;
  // Set by TVemo::FreezeWeight/UnfreezeWeight and kept by clones; nothing
  // in the forward or backward pass reads it.
  bool trainable = true;

  bool CanRun(ActFunction function) const override { return !IsGainFunction(function); }
};

// The degree ActVemoCondition stores, for a layer that applies it without the call.
inline double ConditionDegree(const TConditionNeuron &cn, double net) {
  const double c = cn.centre;
  if (cn.left == nullptr && net <= c)
    return 1.0;
  if (cn.right == nullptr && net >= c)
    return 1.0;
  if (cn.right != nullptr && c <= net && net < cn.right->centre)
    return 1.0 - (net - c) / (cn.right->centre - c);
  if (cn.left != nullptr && cn.left->centre < net && net <= c)
    return 1.0 - (c - net) / (c - cn.left->centre);
  return 0.0;
}

} // namespace kestrane

#endif
