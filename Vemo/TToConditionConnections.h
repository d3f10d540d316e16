#ifndef KESTRANE_VEMO_TTOCONDITIONCONNECTIONS_H
#define KESTRANE_VEMO_TTOCONDITIONCONNECTIONS_H

#include "NeuralNets/ArcWalk.h"

#include <vector>

namespace kestrane {

class TConditionLayer;

class TToConditionConnections;
// Instantiated in TToConditionConnections.cpp, beside the enumerators.
extern template class TArcWalk<TToConditionConnections>;

// The matrix from the input layer to the condition layer. It keeps no weights
// of its own: the weight of arc (input i, condition neuron j) is the centre of
// neuron j, and the arc exists exactly when neuron j belongs to input i.
// One flag byte per condition neuron (that is, per arc).
class TToConditionConnections : public TArcWalk<TToConditionConnections> {
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
  static constexpr const char *kTypeName = "ToConditionConnections";
  const char *GetConnectionsNType() const override { return kTypeName; }
  unsigned char GetFlags(int, int to) const override { return flags[to]; }
  // Stores val unchecked.
  void SetFlags(int, int to, unsigned char val) override { flags[to] = val; }
  void Destroy() override { delete this; }
  // The centres travel with the condition layer's clone; flags start afresh.
  TBasicConnections *Clone(TBasicNetwork *owner) const override;
  void RemoveFromNeuron(int index) override;
  bool RemovesNeurons() const override { return false; }
  void RemoveToNeuron(int index) override;

  TConditionLayer *conditionLayer; // layer `to`, not owned
  std::vector<unsigned char> flags;

private:
  // The arcs in visiting order (see ArcWalk.h).
  friend class TArcWalk<TToConditionConnections>;
  template <class Arc>
  void EachArc(Arc &&arc);
  template <class Arc>
  void EachInArc(int to, Arc &&arc);
  template <class Arc>
  void EachOutArc(int from, Arc &&arc);

  // Neurons that can be visited: those with flags and an input.
  int NumArcs() const;
};

} // namespace kestrane

#endif
