#include "NeuralNets/TIterateObj.h"

#include "NeuralNets/TBasicNetwork.h"

namespace kestrane {

namespace {

double *ActivationsOf(TBasicLayer *layer) { return layer->activations.data(); }

} // namespace

void TIterateObj::SetContext(TBasicLayer *from, TBasicLayer *to) {
  fromLayerNum = from->layerNum;
  toLayerNum = to->layerNum;
  fromLayer = from;
  toLayer = to;
  fromActivations = ActivationsOf(from);
  toActivations = ActivationsOf(to);
  conn = to->network->priv_conns_index[toLayerNum][fromLayerNum];
}

void TIterateObj::SetContext(TBasicNetwork *network, int from, int to) {
  SetContext(network->layers[from], network->layers[to]);
  conn = network->priv_conns_index[to][from];
}

void TIterateObj2::SetContext(TBasicConnections *c1, TBasicConnections *c2) {
  fromLayerNum = c1->from;
  toLayerNum = c1->to;
  conn1 = c1;
  conn2 = c2;
  fromLayer1 = c1->GetFromLayer();
  toLayer1 = c1->GetToLayer();
  fromLayer2 = c2->GetFromLayer();
  toLayer2 = c2->GetToLayer();
  fromActivations1 = ActivationsOf(fromLayer1);
  toActivations1 = ActivationsOf(toLayer1);
  fromActivations2 = ActivationsOf(fromLayer2);
  toActivations2 = ActivationsOf(toLayer2);
}

void TIterateObj3::SetContext(TBasicConnections *c1, TBasicConnections *c2, TBasicConnections *c3) {
  fromLayerNum = c1->from;
  toLayerNum = c1->to;
  conn1 = c1;
  conn2 = c2;
  conn3 = c3;
  fromLayer1 = c1->GetFromLayer();
  toLayer1 = c1->GetToLayer();
  fromLayer2 = c2->GetFromLayer();
  toLayer2 = c2->GetToLayer();
  fromLayer3 = c3->GetFromLayer();
  toLayer3 = c3->GetToLayer();
  fromActivations1 = ActivationsOf(fromLayer1);
  toActivations1 = ActivationsOf(toLayer1);
  fromActivations2 = ActivationsOf(fromLayer2);
  toActivations2 = ActivationsOf(toLayer2);
  fromActivations3 = ActivationsOf(fromLayer3);
  toActivations3 = ActivationsOf(toLayer3);
}

void TIterateObjAggregate::Visit() { sum = sum + fromActivations[fromNeuron] * *weight; }

void TIterateObjGetWeights::Visit() {
  *position++ = *weight;
  ++count;
}

void TIterateObjSetWeights::Visit() {
  *weight = *position++;
  ++count;
}

void TIterateObjRandomize::Visit() {
  if (min != max)
    *weight = RandomWeight(min, max);
  else
    *weight = min;
}

void TIterateObjGetFlags::Visit() { bytes[length++] = conn->GetFlags(fromNeuron, toNeuron); }

void TIterateObjSetFlags::Visit() { conn->SetFlags(fromNeuron, toNeuron, bytes[index++]); }

void TIterateObjAllUntrainable::Visit() { conn->FreezeArc(fromNeuron, toNeuron); }

} // namespace kestrane
