#ifndef KESTRANE_VEMO_USUALLAYERS_H
#define KESTRANE_VEMO_USUALLAYERS_H

// The flat loops of training and recall compute the usual fuzzy layout
// inline; both ask this before they take a network.

#include "NeuralNets/TBasicNetwork.h"

namespace kestrane {

// True when `net` has six layers, input and output where TVemo puts them,
// each knowing its place, of the classes TVemo builds: an empty bias
// layer, a linear input layer, the condition layer, sigmoid rule and action
// layers whose neurons each write their own slot, and the output layer.
bool HasUsualVemoLayers(TBasicNetwork &net);

} // namespace kestrane

#endif
