#include "Vemo/TConditionNeuron.h"

#include "NeuralNets/ActFunctions.h"

namespace kestrane {

void ActVemoCondition(TBasicNeuron *neuron, double net) {
  *neuron->activation = ConditionDegree(*static_cast<TConditionNeuron *>(neuron), net);
}

} // namespace kestrane
