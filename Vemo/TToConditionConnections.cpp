#include "Vemo/TToConditionConnections.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TConditionLayer.h"

#include <algorithm>
#include <type_traits>

namespace kestrane {

namespace {

TConditionLayer *ConditionLayerOf(TBasicNetwork *network, int to) {
  TBasicLayer *layer = (to >= 0 && static_cast<size_t>(to) < network->layers.size())
                           ? network->layers[to]
                           : nullptr;
  auto *condition = dynamic_cast<TConditionLayer *>(layer);
  if (condition == nullptr)
    throw TException("ToConditionConnections must lead to a condition layer", kBadParameter,
                     "TToConditionConnections::TToConditionConnections");
  return condition;
}

} // namespace

TToConditionConnections::TToConditionConnections(TBasicNetwork *network, int from, int to)
    : TBasicConnections(network, from, to), conditionLayer(ConditionLayerOf(network, to)),
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

void TToConditionConnections::VisitNeuron(TIterateObj &visitor, int j, int mask) {
  const unsigned char f = flags[j];
  if (!SelectsArc(mask, f))
    return;
  visitor.fromNeuron = conditionLayer->GetInputOfNeuron(j);
  visitor.toNeuron = j;
  visitor.weight = &conditionLayer->nodes[j].centre;
  visitor.trainable = TrainableBit(f);
  visitor.Visit();
}

void TToConditionConnections::IterateInArcs(TIterateObj &visitor, int to, int mask) {
  visitor.SetContext(GetFromLayer(), GetToLayer());
  visitor.conn = this;
  if (to >= 0 && to < NumArcs())
    VisitNeuron(visitor, to, mask);
}

void TToConditionConnections::IterateOutArcs(TIterateObj &visitor, int from, int mask) {
  visitor.SetContext(GetFromLayer(), GetToLayer());
  visitor.conn = this;
  if (from < 0 || from >= conditionLayer->GetNumInputs() || NumArcs() == 0)
    return;
  const int first = conditionLayer->GetFirstNeuronOfInput(from);
  const int end = std::min(first + conditionLayer->GetMFCounts()[from], NumArcs());
  for (int j = first; j < end; ++j)
    VisitNeuron(visitor, j, mask);
}

void TToConditionConnections::Iterate(TIterateObj &visitor, int mask) {
  visitor.SetContext(GetFromLayer(), GetToLayer());
  visitor.conn = this;
  const int n = NumArcs();
  for (int j = 0; j < n; ++j)
    VisitNeuron(visitor, j, mask);
}

// Iterate2 and Iterate3 differ only in the third network's centre.
template <class Visitor>
void TToConditionConnections::VisitTwins(Visitor &visitor, TBasicConnections *conn2,
                                         TBasicConnections *conn3, int mask) {
  const int n = NumArcs();
  for (int j = 0; j < n; ++j) {
    const unsigned char f = flags[j];
    if (!SelectsArc(mask, f))
      continue;
    const int input = conditionLayer->GetInputOfNeuron(j);
    visitor.fromNeuron = input;
    visitor.toNeuron = j;
    visitor.weight1 = &conditionLayer->nodes[j].centre;
    visitor.weight2 = conn2->GetWeightPtr(input, j);
    if constexpr (std::is_same_v<Visitor, TIterateObj3>)
      visitor.weight3 = conn3->GetWeightPtr(input, j);
    visitor.trainable = TrainableBit(f);
    visitor.Visit();
  }
}

void TToConditionConnections::Iterate2(TIterateObj2 &visitor, TBasicNetwork *network2, int mask) {
  TBasicConnections *conn2 = TwinIn(network2);
  CheckSameClass2(this, conn2);
  visitor.SetContext(this, conn2);
  VisitTwins(visitor, conn2, nullptr, mask);
}

void TToConditionConnections::Iterate3(TIterateObj3 &visitor, TBasicNetwork *network2,
                                       TBasicNetwork *network3, int mask) {
  TBasicConnections *conn2 = TwinIn(network2);
  TBasicConnections *conn3 = TwinIn(network3);
  CheckSameClass2(this, conn2);
  CheckSameClass3(this, conn3);
  visitor.SetContext(this, conn2, conn3);
  VisitTwins(visitor, conn2, conn3, mask);
}

TBasicConnections *TToConditionConnections::Clone(TBasicNetwork *owner) const {
  return new TToConditionConnections(owner, from, to);
}

void TToConditionConnections::RemoveFromNeuron(int) { KASSERT_TEXT(false, "false"); }

void TToConditionConnections::RemoveToNeuron(int) { KASSERT_TEXT(false, "false"); }

} // namespace kestrane
