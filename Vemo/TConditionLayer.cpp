#include "Vemo/TConditionLayer.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"

#include <algorithm>

namespace kestrane {

namespace {

constexpr const char *kSetCounts = "TConditionLayer::SetInputMFCounts";

} // namespace

TConditionLayer::TConditionLayer(TBasicNetwork *network, int layerNum, int numNeurons)
    : TBasicLayer(network, layerNum, numNeurons) {
  CreateNeurons(nodes, std::max(numNeurons, 0));
  for (TConditionNeuron &node : nodes)
    node.actFunction = ActVemoCondition;
}

void TConditionLayer::ApplyActivation(double *net) {
  TConditionNeuron *node = nodes.data();
  if (commonActFunction == ActVemoCondition) {
    for (int i = 0; i < numNeurons; ++i)
      *node[i].activation = ConditionDegree(node[i], net[i]);
  } else if (commonActFunction != nullptr) {
    const ActFunction fn = commonActFunction;
    for (int i = 0; i < numNeurons; ++i)
      fn(&node[i], net[i]);
  } else {
    for (int i = 0; i < numNeurons; ++i)
      node[i].actFunction(&node[i], net[i]);
  }
}

void TConditionLayer::Propagate(const double *) {
  const TBasicLayer *below = network->layers[layerNum - 1];
  // A layer rebuilt from a file could map neurons to inputs the layer below lacks.
  if (!HasCounts() || numInputs > below->numNeurons)
    throw TException("Condition layer does not match the input layer", kBadParameter,
                     "TConditionLayer::Propagate");
  const double *x = below->activations.data();
  double *net = activations.data();
  const int *input = nodeInput.data();
  for (int j = 0; j < numNeurons; ++j)
    net[j] = x[input[j]];
  ApplyActivation(net);
}

TBasicLayer *TConditionLayer::Clone(TBasicNetwork *owner) const {
  auto *copy = new TConditionLayer(owner, layerNum, numNeurons);
  if (HasCounts())
    copy->SetInputMFCounts(numInputs, mfCounts.data());
  CopyBaseStateInto(*copy);
  CloneNeuronsInto(nodes, copy->nodes, *copy);
  for (size_t j = 0; j < nodes.size(); ++j) {
    copy->nodes[j].centre = nodes[j].centre;
    copy->nodes[j].trainable = nodes[j].trainable;
  }
  return copy;
}

void TConditionLayer::SetInputMFCounts(int inputs, const int *counts) {
  if (inputs < 0 || (inputs > 0 && counts == nullptr))
    throw TException("Invalid number of inputs", kBadParameter, kSetCounts);
  long long total = 0;
  for (int i = 0; i < inputs; ++i) {
    if (counts[i] < 2)
      throw TException("Must be >= 2 MF per input", kBadParameter, kSetCounts);
    total += counts[i];
  }
  if (total != numNeurons)
    throw TException("Membership-function counts do not add up to the layer size", kBadParameter,
                     kSetCounts);
  if (layerNum >= 1 && static_cast<size_t>(layerNum - 1) < network->layers.size()) {
    const TBasicLayer *below = network->layers[layerNum - 1];
    if (below != nullptr && inputs > below->numNeurons)
      throw TException("More inputs than the input layer has neurons", kBadParameter, kSetCounts);
  }

  numInputs = inputs;
  mfCounts.assign(counts, counts + inputs);
  nodeInput.clear();
  nodeInput.reserve(static_cast<size_t>(numNeurons));
  firstOfInput.assign(static_cast<size_t>(inputs), 0);
  for (int i = 0; i < inputs; ++i) {
    firstOfInput[i] = static_cast<int>(nodeInput.size());
    nodeInput.insert(nodeInput.end(), static_cast<size_t>(counts[i]), i);
  }
  for (int j = 0; j < numNeurons; ++j) {
    TConditionNeuron &node = nodes[j];
    node.layer = this;
    node.activation = &activations[j];
    node.layerNum = layerNum;
    node.index = j;
    node.actFunction = ActVemoCondition;
  }
  for (int i = 0; i < inputs; ++i) {
    const int first = firstOfInput[i];
    const int last = first + mfCounts[i] - 1;
    const int NdxMF = mfCounts[i];
    KASSERT(NdxMF >= 2);
    for (int j = first; j <= last; ++j) {
      nodes[j].left = (j == first) ? nullptr : &nodes[j - 1];
      nodes[j].right = (j == last) ? nullptr : &nodes[j + 1];
    }
  }
  ResetCentres();
}

void TConditionLayer::ResetCentres() {
  for (int i = 0; i < numInputs; ++i) {
    const int NdxMF = mfCounts[i];
    KASSERT(NdxMF >= 2);
    const int first = firstOfInput[i];
    for (int l = 0; l < NdxMF; ++l)
      nodes[first + l].centre = static_cast<double>(l) / (NdxMF - 1);
  }
}

} // namespace kestrane
