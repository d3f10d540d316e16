#include "Vemo/TToOutputConnections.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TVemoOutputLayer.h"

#include <algorithm>
#include <typeinfo>

namespace kestrane {

namespace {

TVemoOutputLayer *OutputLayerOf(TBasicNetwork *network, int to) {
  TBasicLayer *layer =
      (to >= 0 && static_cast<size_t>(to) < network->layers.size()) ? network->layers[to] : nullptr;
  auto *output = dynamic_cast<TVemoOutputLayer *>(layer);
  if (output == nullptr)
    throw TException("ToOutputConnections must lead to a defuzzifying layer", kBadParameter,
                     "TToOutputConnections::TToOutputConnections");
  return output;
}

} // namespace

TToOutputConnections::TToOutputConnections(TBasicNetwork *network, int from, int to)
    : TArcWalk(network, from, to), outputLayer(OutputLayerOf(network, to)) {
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

template <class Arc>
void TToOutputConnections::EachArc(Arc &&arc) {
  const int n = NumArcs();
  for (int k = 0; k < n; ++k)
    arc(k, outputLayer->GetOutputOfAction(k), flags[k]);
}

template <class Arc>
void TToOutputConnections::EachInArc(int to, Arc &&arc) {
  if (to < 0 || to >= static_cast<int>(outputLayer->GetMFCounts().size()))
    return;
  const int first = outputLayer->GetFirstActionOfOutput(to);
  const int end = std::min(first + outputLayer->GetMFCounts()[to], NumArcs());
  for (int k = first; k < end; ++k)
    arc(k, outputLayer->GetOutputOfAction(k), flags[k]);
}

template <class Arc>
void TToOutputConnections::EachOutArc(int from, Arc &&arc) {
  if (from >= 0 && from < NumArcs())
    arc(from, outputLayer->GetOutputOfAction(from), flags[from]);
}

template class TArcWalk<TToOutputConnections>;

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
