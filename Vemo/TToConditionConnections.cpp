#include "Vemo/TToConditionConnections.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TConditionLayer.h"

#include <algorithm>

namespace kestrane {

namespace {

TConditionLayer *ConditionLayerOf(TBasicNetwork *network, int to) {
  TBasicLayer *layer =
      (to >= 0 && static_cast<size_t>(to) < network->layers.size()) ? network->layers[to] : nullptr;
  auto *condition = dynamic_cast<TConditionLayer *>(layer);
  if (condition == nullptr)
    throw TException("ToConditionConnections must lead to a condition layer", kBadParameter,
                     "TToConditionConnections::TToConditionConnections");
  return condition;
}

} // namespace

TToConditionConnections::TToConditionConnections(TBasicNetwork *network, int from, int to)
    : TArcWalk(network, from, to), conditionLayer(ConditionLayerOf(network, to)),
      flags(static_cast<size_t>(std::max(conditionLayer->numNeurons, 0)), FMaskAll) {}

int TToConditionConnections::NumArcs() const {
  if (!conditionLayer->HasCounts())
    return 0;
  return std::min(static_cast<int>(flags.size()), conditionLayer->numNeurons);
}

double *TToConditionConnections::GetWeightPtr(int, int to) {
  return &conditionLayer->nodes[to].centre;
}

bool TToConditionConnections::IsValid(int from, int to) const {
  return to >= 0 && to < NumArcs() && conditionLayer->GetInputOfNeuron(to) == from;
}

bool TToConditionConnections::IsTrainable(int from, int to) const {
  return IsValid(from, to) && (flags[to] & FMaskTrainable) != 0;
}

template <class Arc>
void TToConditionConnections::EachArc(Arc &&arc) {
  const int n = NumArcs();
  for (int j = 0; j < n; ++j)
    arc(conditionLayer->GetInputOfNeuron(j), j, flags[j]);
}

template <class Arc>
void TToConditionConnections::EachInArc(int to, Arc &&arc) {
  if (to >= 0 && to < NumArcs())
    arc(conditionLayer->GetInputOfNeuron(to), to, flags[to]);
}

template <class Arc>
void TToConditionConnections::EachOutArc(int from, Arc &&arc) {
  if (from < 0 || from >= conditionLayer->GetNumInputs() || NumArcs() == 0)
    return;
  const int first = conditionLayer->GetFirstNeuronOfInput(from);
  const int end = std::min(first + conditionLayer->GetMFCounts()[from], NumArcs());
  for (int j = first; j < end; ++j)
    arc(conditionLayer->GetInputOfNeuron(j), j, flags[j]);
}

template class TArcWalk<TToConditionConnections>;

TBasicConnections *TToConditionConnections::Clone(TBasicNetwork *owner) const {
  return new TToConditionConnections(owner, from, to);
}

void TToConditionConnections::RemoveFromNeuron(int) { KASSERT_TEXT(false, "false"); }

void TToConditionConnections::RemoveToNeuron(int) { KASSERT_TEXT(false, "false"); }

} // namespace kestrane
