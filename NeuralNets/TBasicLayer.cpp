#include "NeuralNets/TBasicLayer.h"

#include "KQmessage/Diagnostics.h"
#include "KQmessage/KAssert.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicNetwork.h"

#include <algorithm>

namespace kestrane {

TBasicLayer::TBasicLayer(TBasicNetwork *network, int layerNum, int numNeurons)
    : network(network), numNeurons(numNeurons), layerNum(layerNum),
      activations(static_cast<size_t>(std::max(numNeurons, 0)), 0.0) {}

void TBasicLayer::ApplyActivation(double *net) {
  for (int i = 0; i < numNeurons; ++i) {
    TBasicNeuron *neuron = GetNeuron(i);
    if (commonActFunction != nullptr)
      commonActFunction(neuron, net[i]);
    else
      neuron->actFunction(neuron, net[i]);
  }
}

void TBasicLayer::Propagate(const double *input) {
  if (layerNum == network->inLayer) {
    Warn("!Warning: changed input layer (TSimpleLayer)");
    std::copy(input, input + numNeurons, activations.begin());
  } else {
    std::fill(activations.begin(), activations.begin() + numNeurons, 0.0);
  }
  // Strictly feed-forward: only matrices from lower-numbered layers count.
  for (int f = 0; f < layerNum; ++f)
    network->priv_conns_index[layerNum][f]->AddNetInputs(activations.data());
  ApplyActivation(activations.data());
}

void TBasicLayer::InsertNeuron(int) { KASSERT_TEXT(false, "false"); }

ActFunction TBasicLayer::GetLayerActFunction() {
  if (commonActFunction != nullptr)
    return commonActFunction;
  if (numNeurons <= 0) {
    commonActFunction = ActNull;
    return commonActFunction;
  }
  const ActFunction first = GetNeuron(0)->actFunction;
  for (int i = 1; i < numNeurons; ++i)
    if (GetNeuron(i)->actFunction != first)
      return nullptr;
  commonActFunction = first;
  return commonActFunction;
}

void TBasicLayer::SetLayerActFunction(ActFunction function) {
  for (int i = 0; i < numNeurons; ++i)
    if (!GetNeuron(i)->CanRun(function))
      TBasicNeuron::RefuseFunction(function, "TBasicLayer::SetLayerActFunction");
  commonActFunction = function;
  for (int i = 0; i < numNeurons; ++i)
    GetNeuron(i)->actFunction = function;
}

void TBasicLayer::GetDimensions(int *out) const {
  if (numDimensions == 0)
    return;
  int *parameters = out;
  KASSERT_TEXT(parameters != nullptr, "parameters != NULL");
  KASSERT_TEXT(!dimensions.empty(), "dimensions != NULL");
  std::copy(dimensions.begin(), dimensions.end(), out);
}

void TBasicLayer::SetDimensions(int count, const int *in) {
  if (count <= 0) {
    numDimensions = 0;
    dimensions.clear();
    return;
  }
  const int *parameters = in;
  KASSERT_TEXT(parameters != nullptr, "parameters != NULL");
  dimensions.assign(in, in + count);
  numDimensions = count;
}

void TBasicLayer::SetLayerNum(int number) {
  layerNum = number;
  for (int i = 0; i < numNeurons; ++i)
    GetNeuron(i)->layerNum = number;
}

void TBasicLayer::CopyBaseStateInto(TBasicLayer &dst) const {
  dst.activations.assign(static_cast<size_t>(std::max(numNeurons, 0)), 0.0);
  dst.numDimensions = numDimensions;
  dst.dimensions = dimensions;
  dst.commonActFunction = commonActFunction;
}

// ---- TSimpleLayer ----

TSimpleLayer::TSimpleLayer(TBasicNetwork *network, int layerNum, int numNeurons)
    : TBasicLayer(network, layerNum, numNeurons) {
  CreateNeurons(nodes, std::max(numNeurons, 0));
}

void TSimpleLayer::ApplyActivation(double *net) {
  TBasicNeuron *node = nodes.data();
  const ActFunction common = commonActFunction;
  if (common == ActSigmoid) {
    for (int i = 0; i < numNeurons; ++i)
      *node[i].activation = SigmoidOf(net[i]);
  } else if (common != nullptr) {
    for (int i = 0; i < numNeurons; ++i)
      common(&node[i], net[i]);
  } else {
    for (int i = 0; i < numNeurons; ++i)
      node[i].actFunction(&node[i], net[i]);
  }
}

TBasicLayer *TSimpleLayer::Clone(TBasicNetwork *owner) const {
  auto *copy = new TSimpleLayer(owner, layerNum, numNeurons);
  CopyBaseStateInto(*copy);
  CloneNeuronsInto(nodes, copy->nodes, *copy);
  return copy;
}

void TSimpleLayer::RemoveNeuron(int index) { RemoveNeuronFrom(nodes, index); }

void TSimpleLayer::InsertNeuron(int index) { InsertNeuronInto(nodes, index); }

// ---- TSimpleInputLayer ----

TSimpleInputLayer::TSimpleInputLayer(TBasicNetwork *network, int layerNum, int numNeurons)
    : TSimpleLayer(network, layerNum, numNeurons) {
  SetLayerActFunction(ActLinear);
}

void TSimpleInputLayer::Propagate(const double *input) {
  if (layerNum == network->inLayer) {
    std::copy(input, input + numNeurons, activations.begin());
  } else {
    Warn("!Warning: changed input layer (TSimpleInputLayer)");
    std::fill(activations.begin(), activations.begin() + numNeurons, 0.0);
  }
}

TBasicLayer *TSimpleInputLayer::Clone(TBasicNetwork *owner) const {
  auto *copy = new TSimpleInputLayer(owner, layerNum, numNeurons);
  CopyBaseStateInto(*copy);
  CloneNeuronsInto(nodes, copy->nodes, *copy);
  return copy;
}

// ---- TGainLayer ----

TGainLayer::TGainLayer(TBasicNetwork *network, int layerNum, int numNeurons, double gain)
    : TBasicLayer(network, layerNum, numNeurons) {
  CreateNeurons(nodes, std::max(numNeurons, 0));
  SetGain(gain);
}

TBasicLayer *TGainLayer::Clone(TBasicNetwork *owner) const {
  auto *copy = new TGainLayer(owner, layerNum, numNeurons, 1.0);
  CopyBaseStateInto(*copy);
  CloneNeuronsInto(nodes, copy->nodes, *copy);
  for (size_t i = 0; i < nodes.size() && i < copy->nodes.size(); ++i)
    copy->nodes[i].gain = nodes[i].gain;
  return copy;
}

void TGainLayer::RemoveNeuron(int index) { RemoveNeuronFrom(nodes, index); }

void TGainLayer::InsertNeuron(int index) {
  const double gain = nodes.empty() ? 1.0 : nodes[0].gain;
  InsertNeuronInto(nodes, index);
  nodes[index].gain = gain;
}

void TGainLayer::SetGain(double gain) {
  for (TGainNeuron &node : nodes)
    node.gain = gain;
}

} // namespace kestrane
