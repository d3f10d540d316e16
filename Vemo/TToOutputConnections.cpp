#include "Vemo/TToOutputConnections.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TVemoOutputLayer.h"

#include <algorithm>
#include <type_traits>
#include <typeinfo>

namespace kestrane {

namespace {

TVemoOutputLayer *OutputLayerOf(TBasicNetwork *network, int to) {
  TBasicLayer *layer = (to >= 0 && static_cast<size_t>(to) < network->layers.size())
                           ? network->layers[to]
                           : nullptr;
  auto *output = dynamic_cast<TVemoOutputLayer *>(layer);
  if (output == nullptr)
    throw TException("ToOutputConnections must lead to a defuzzifying layer", kBadParameter,
                     "TToOutputConnections::TToOutputConnections");
  return output;
}

} // namespace

TToOutputConnections::TToOutputConnections(TBasicNetwork *network, int from, int to)
    : TBasicConnections(network, from, to), outputLayer(OutputLayerOf(network, to)) {
  const size_t n = static_cast<size_t>(std::max(GetNumFromNeurons(), 0));
  weights.assign(n, 0.0);
  flags.assign(n, FMaskAll);
}

int TToOutputConnections::NumArcs() const {
  return std::min(NumCentres(), outputLayer->GetNumMapped());
}

bool TToOutputConnections::IsValid(int from, int to) const {
  return from >= 0 && from < NumArcs() && to >= 0 && to < outputLayer->numNeurons &&
         outputLayer->GetOutputOfAction(from) == to;
}

bool TToOutputConnections::IsTrainable(int from, int to) const {
  return IsValid(from, to) && (flags[from] & FMaskTrainable) != 0;
}

void TToOutputConnections::VisitNeuron(TIterateObj &visitor, int k, int mask) {
  const unsigned char f = flags[k];
  if (!SelectsArc(mask, f))
    return;
  visitor.fromNeuron = k;
  visitor.toNeuron = outputLayer->GetOutputOfAction(k);
  visitor.weight = &weights[k];
  visitor.trainable = TrainableBit(f);
  visitor.Visit();
}

void TToOutputConnections::IterateInArcs(TIterateObj &visitor, int to, int mask) {
  visitor.SetContext(GetFromLayer(), GetToLayer());
  visitor.conn = this;
  if (to < 0 || to >= static_cast<int>(outputLayer->GetMFCounts().size()))
    return;
  const int first = outputLayer->GetFirstActionOfOutput(to);
  const int end = std::min(first + outputLayer->GetMFCounts()[to], NumArcs());
  for (int k = first; k < end; ++k)
    VisitNeuron(visitor, k, mask);
}

void TToOutputConnections::IterateOutArcs(TIterateObj &visitor, int from, int mask) {
  visitor.SetContext(GetFromLayer(), GetToLayer());
  visitor.conn = this;
  if (from >= 0 && from < NumArcs())
    VisitNeuron(visitor, from, mask);
}

void TToOutputConnections::Iterate(TIterateObj &visitor, int mask) {
  visitor.SetContext(GetFromLayer(), GetToLayer());
  visitor.conn = this;
  const int n = NumArcs();
  for (int k = 0; k < n; ++k)
    VisitNeuron(visitor, k, mask);
}

// Iterate2 and Iterate3 differ only in the third network's centre.
template <class Visitor>
void TToOutputConnections::VisitTwins(Visitor &visitor, TBasicConnections *conn2,
                                      TBasicConnections *conn3, int mask) {
  const int n = NumArcs();
  for (int k = 0; k < n; ++k) {
    const unsigned char f = flags[k];
    if (!SelectsArc(mask, f))
      continue;
    const int output = outputLayer->GetOutputOfAction(k);
    visitor.fromNeuron = k;
    visitor.toNeuron = output;
    visitor.weight1 = &weights[k];
    visitor.weight2 = conn2->GetWeightPtr(k, output);
    if constexpr (std::is_same_v<Visitor, TIterateObj3>)
      visitor.weight3 = conn3->GetWeightPtr(k, output);
    visitor.trainable = TrainableBit(f);
    visitor.Visit();
  }
}

void TToOutputConnections::Iterate2(TIterateObj2 &visitor, TBasicNetwork *network2, int mask) {
  TBasicConnections *conn2 = TwinIn(network2);
  CheckSameClass2(this, conn2);
  visitor.SetContext(this, conn2);
  VisitTwins(visitor, conn2, nullptr, mask);
}

void TToOutputConnections::Iterate3(TIterateObj3 &visitor, TBasicNetwork *network2,
                                    TBasicNetwork *network3, int mask) {
  TBasicConnections *conn2 = TwinIn(network2);
  TBasicConnections *conn3 = TwinIn(network3);
  CheckSameClass2(this, conn2);
  CheckSameClass3(this, conn3);
  visitor.SetContext(this, conn2, conn3);
  VisitTwins(visitor, conn2, conn3, mask);
}

TBasicConnections *TToOutputConnections::Clone(TBasicNetwork *owner) const {
  auto *x = new TToOutputConnections(owner, from, to);
  x->weights = weights;
  x->flags.assign(weights.size(), FMaskAll);
  return x;
}

void TToOutputConnections::RemoveFromNeuron(int) { KASSERT_TEXT(false, "false"); }

void TToOutputConnections::RemoveToNeuron(int) { KASSERT_TEXT(false, "false"); }

void TToOutputConnections::ResetCentres() {
  const std::vector<int> &counts = outputLayer->GetMFCounts();
  for (int o = 0; o < static_cast<int>(counts.size()); ++o) {
    const int NdxMF = counts[o];
    KASSERT(NdxMF >= 2);
    const int first = outputLayer->GetFirstActionOfOutput(o);
    for (int l = 0; l < NdxMF && first + l < NumCentres(); ++l)
      *GetWeightPtr(first + l, o) = static_cast<double>(l) / (NdxMF - 1);
  }
}

TToOutputConnections *CentresOf(TBasicConnections *matrix) {
  if (typeid(*matrix) == typeid(TToOutputConnections))
    return static_cast<TToOutputConnections *>(matrix);
  return dynamic_cast<TToOutputConnections *>(matrix);
}

} // namespace kestrane
