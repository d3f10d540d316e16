#include "NeuralNets/TArcsIterator.h"

#include "KQmessage/KAssert.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kestrane {

void TArcsIterator::Reserved7() { KASSERT_TEXT(false, "false"); }
void TArcsIterator::Reserved9() { KASSERT_TEXT(false, "false"); }
void TArcsIterator::Reserved10() { KASSERT_TEXT(false, "false"); }

void TInAllArcsIterator::Start(int, int) {}

void TInAllArcsIterator::Start(TBasicNeuron *toNeuron) {
  Start(toNeuron->layerNum, toNeuron->index);
}

void TInLayerArcsIterator::Start(int, int, int) {}

void TInLayerArcsIterator::Start(TBasicNeuron *toNeuron) {
  Start(toNeuron->layerNum, toNeuron->index, 0);
}

// ---- TConnInAllArcsIterator ----

void TConnInAllArcsIterator::Start(int toLayerNum, int toNeuronIndex) {
  toLayer = toLayerNum;
  toNeuron = toNeuronIndex;
  toNeuronPtr = network->layers[toLayer]->GetNeuron(toNeuron);
  fromLayer = -1;
  fromNeuron = -1;
  lastFromNeuron = -1;
  fromNeuronPtr = nullptr;
  weight = nullptr;
  conn = nullptr;
}

bool TConnInAllArcsIterator::StandOn(int layer, int neuron) {
  TBasicConnections *matrix = network->priv_conns_index[toLayer][layer];
  TBasicLayer *from = network->layers[layer];
  if (!matrix->IsConnected() || from->numNeurons <= 0)
    return false;
  fromLayer = layer;
  fromNeuron = neuron < 0 ? from->numNeurons - 1 : neuron;
  lastFromNeuron = from->numNeurons - 1;
  conn = matrix;
  fromNeuronPtr = from->GetNeuron(fromNeuron);
  weight = matrix->GetWeightPtr(fromNeuron, toNeuron);
  return true;
}

bool TConnInAllArcsIterator::Next() {
  if (conn != nullptr && fromNeuron < lastFromNeuron) {
    ++fromNeuron;
    fromNeuronPtr = network->layers[fromLayer]->GetNeuron(fromNeuron);
    // The fuzzy matrices keep one centre per neuron, not a row per to-neuron.
    weight = conn->GetWeightPtr(fromNeuron, toNeuron);
    return true;
  }
  fromNeuron = -1;
  conn = nullptr;
  while (fromLayer < network->numLayers - 1) {
    ++fromLayer;
    if (StandOn(fromLayer, 0))
      return true;
  }
  // Past the end, so that Prev comes back to the last arc.
  fromLayer = network->numLayers;
  return false;
}

bool TConnInAllArcsIterator::Prev() {
  if (conn != nullptr && fromNeuron > 0) {
    --fromNeuron;
    fromNeuronPtr = network->layers[fromLayer]->GetNeuron(fromNeuron);
    weight = conn->GetWeightPtr(fromNeuron, toNeuron);
    return true;
  }
  fromNeuron = -1;
  conn = nullptr;
  while (fromLayer > 0) {
    --fromLayer;
    if (StandOn(fromLayer, -1))
      return true;
  }
  fromLayer = -1;
  return false;
}

// ---- TConnInLayerArcsIterator ----

void TConnInLayerArcsIterator::Start(int toLayerNum, int toNeuronIndex, int fromLayerNum) {
  toLayer = toLayerNum;
  toNeuron = toNeuronIndex;
  fromLayer = fromLayerNum;
  toNeuronPtr = network->layers[toLayer]->GetNeuron(toNeuron);
  fromNeuron = -1;
  fromNeuronPtr = nullptr;
  weight = nullptr;
  TBasicConnections *matrix = network->priv_conns_index[toLayer][fromLayer];
  TBasicLayer *from = network->layers[fromLayer];
  fromActivations = from->activations.data();
  // An unconnected pair has no weight rows: no arc to stand on.
  if (matrix->IsConnected()) {
    conn = matrix;
    lastFromNeuron = from->numNeurons - 1;
  } else {
    conn = nullptr;
    lastFromNeuron = -1;
  }
}

void TConnInLayerArcsIterator::StandOn(int neuron) {
  fromNeuron = neuron;
  fromNeuronPtr = network->layers[fromLayer]->GetNeuron(neuron);
  weight = conn->GetWeightPtr(neuron, toNeuron);
}

bool TConnInLayerArcsIterator::Next() {
  if (fromNeuron < lastFromNeuron) {
    StandOn(fromNeuron + 1);
    return true;
  }
  return false;
}

bool TConnInLayerArcsIterator::Prev() {
  if (conn != nullptr && fromNeuron >= 1) {
    StandOn(fromNeuron - 1);
    return true;
  }
  return false;
}

} // namespace kestrane
