#ifndef KESTRANE_VEMO_TCONDITIONNEURON_H
#define KESTRANE_VEMO_TCONDITIONNEURON_H

#include "NeuralNets/TBasicNeuron.h"

namespace kestrane {

// A neuron of the condition layer: one triangular membership function, 1 at
// its centre and 0 at its neighbours' centres (none at the ends: shoulders).
class TConditionNeuron : public TBasicNeuron {
public:
  double centre = 0.0;
  TConditionNeuron *left = nullptr;
  TConditionNeuron *right = nullptr;
  bool trainable = true;
};

} // namespace kestrane

#endif
