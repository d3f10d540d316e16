#ifndef KESTRANE_VEMO_TTOCONDITIONCONNECTIONS_H
#define KESTRANE_VEMO_TTOCONDITIONCONNECTIONS_H

#include "NeuralNets/TBasicConnections.h"

#include <vector>

namespace kestrane {

class TConditionLayer;

// The matrix from the input layer to the condition layer. It keeps no weights
// of its own: the weight of arc (input i, condition neuron j) is the centre of
// neuron j, and the arc exists exactly when neuron j belongs to input i.
// One flag byte per condition neuron (that is, per arc).
class TToConditionConnections : public TBasicConnections {
public:
  // Layer `to` of the network must already be a TConditionLayer; otherwise a
  // TException is raised.
  TToConditionConnections(TBasicNetwork *network, int from, int to);
  ~TToConditionConnections() override = default;

  // The centre of neuron `to`; `from` is not used.
  double *GetWeightPtr(int from, int to) override;
  bool IsValid(int from, int to) const override;
  // Exists and not frozen.
  bool IsTrainable(int from, int to) const override;
  void RemoveArc(int, int) override {}
  void AddArc(int, int) override {}
  void UnfreezeArc(int from, int to) override { SetFlags(from, to, FMaskAll); }
  void FreezeArc(int from, int to) override { SetFlags(from, to, FMaskExists); }
  void IterateInArcs(TIterateObj &visitor, int to, int mask) override;
  void IterateOutArcs(TIterateObj &visitor, int from, int mask) override;
  void Iterate(TIterateObj &visitor, int mask) override;
  void Iterate2(TIterateObj2 &visitor, TBasicNetwork *network2, int mask) override;
  void Iterate3(TIterateObj3 &visitor, TBasicNetwork *network2, TBasicNetwork *network3,
                int mask) override;
  const char *GetConnectionsNType() const override { return "ToConditionConnections"; }
  unsigned char GetFlags(int, int to) const override { return flags[to]; }
  // Stores val unchecked.
  void SetFlags(int, int to, unsigned char val) override { flags[to] = val; }
  void Destroy() override { delete this; }
  // The centres travel with the condition layer's clone; flags start afresh.
  TBasicConnections *Clone(TBasicNetwork *owner) const override;
  void RemoveFromNeuron(int index) override;
  void RemoveToNeuron(int index) override;

  TConditionLayer *conditionLayer; // layer `to`, not owned
  std::vector<unsigned char> flags;

private:
  // Neurons that can be visited: those with flags and an input.
  int NumArcs() const;
  // Visits neuron j if the mask selects it.
  void VisitNeuron(TIterateObj &visitor, int j, int mask);
  template <class Visitor>
  void VisitTwins(Visitor &visitor, TBasicConnections *conn2, TBasicConnections *conn3,
                  int mask);
};

} // namespace kestrane

#endif
