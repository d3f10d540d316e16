#ifndef KESTRANE_VEMO_FUZZYARCKERNELS_H
#define KESTRANE_VEMO_FUZZYARCKERNELS_H

// How the fast epoch reaches the centres of the two fuzzy matrices: those of
// TToConditionConnections live in the condition neurons, those of
// TToOutputConnections in the matrix's own array. TVemoBP hands these to its
// train module.

#include "NeuralNets/TrainKernels.h"

#include <vector>

namespace kestrane {

const std::vector<kernels::ListedClass> &FuzzyMatrixArcs();

} // namespace kestrane

#endif
