#ifndef KESTRANE_VEMO_TTOOUTPUTCONNECTIONS_H
#define KESTRANE_VEMO_TTOOUTPUTCONNECTIONS_H

#include "NeuralNets/ArcWalk.h"

#include <vector>

namespace kestrane {

class TVemoOutputLayer;

class TToOutputConnections;
// Instantiated in TToOutputConnections.cpp, beside the enumerators.
extern template class TArcWalk<TToOutputConnections>;

// The matrix from the action layer to the output layer. weights[k] is the
// centre of the output membership function of action neuron k; the arc
// (action neuron k, output o) exists exactly when k belongs to output o.
// One flag byte per action neuron (that is, per arc).
class TToOutputConnections : public TArcWalk<TToOutputConnections> {
public:
  // Layer `to` of the network must already be a TVemoOutputLayer; otherwise
  // a TException is raised. Centres start at 0.0.
  TToOutputConnections(TBasicNetwork *network, int from, int to);
  ~TToOutputConnections() override = default;

  // weights[from]; `to` is not used.
  double *GetWeightPtr(int from, int) override { return &weights[from]; }
  bool IsValid(int from, int to) const override;
  // Exists and not frozen.
  bool IsTrainable(int from, int to) const override;
  void RemoveArc(int, int) override {}
  void AddArc(int, int) override {}
  void UnfreezeArc(int from, int to) override { SetFlags(from, to, FMaskAll); }
  void FreezeArc(int from, int to) override { SetFlags(from, to, FMaskExists); }
  static constexpr const char *kTypeName = "ToOutputConnections";
  const char *GetConnectionsNType() const override { return kTypeName; }
  unsigned char GetFlags(int from, int) const override { return flags[from]; }
  // Stores val unchecked.
  void SetFlags(int from, int, unsigned char val) override { flags[from] = val; }
  void Destroy() override { delete this; }
  // Keeps the centres; flags start afresh.
  TBasicConnections *Clone(TBasicNetwork *owner) const override;
  void RemoveFromNeuron(int index) override;
  bool RemovesNeurons() const override { return false; }
  void RemoveToNeuron(int index) override;

  // Centre of function l of an output with m functions: l / (m - 1).
  void ResetCentres();

  int NumCentres() const { return static_cast<int>(weights.size()); }

  TVemoOutputLayer *outputLayer; // layer `to`, not owned
  std::vector<double> weights;
  std::vector<unsigned char> flags;

private:
  // The arcs in visiting order (see ArcWalk.h).
  friend class TArcWalk<TToOutputConnections>;
  template <class Arc>
  void EachArc(Arc &&arc);
  template <class Arc>
  void EachInArc(int to, Arc &&arc);
  template <class Arc>
  void EachOutArc(int from, Arc &&arc);

  // Action neurons that can be visited: those with a centre and an output.
  int NumArcs() const;
};

// matrix as a TToOutputConnections (per pattern, so the exact class is
// recognised without a cast); nullptr for other classes.
TToOutputConnections *CentresOf(TBasicConnections *matrix);

} // namespace kestrane

#endif
