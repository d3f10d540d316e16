#ifndef KESTRANE_VEMO_TTOOUTPUTCONNECTIONS_H
#define KESTRANE_VEMO_TTOOUTPUTCONNECTIONS_H

#include "NeuralNets/TBasicConnections.h"

#include <vector>

namespace kestrane {

class TVemoOutputLayer;

// The matrix from the action layer to the output layer. weights[k] is the
// centre of the output membership function of action neuron k; the arc
// (action neuron k, output o) exists exactly when k belongs to output o.
// One flag byte per action neuron (that is, per arc).
class TToOutputConnections : public TBasicConnections {
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
  void IterateInArcs(TIterateObj &visitor, int to, int mask) override;
  void IterateOutArcs(TIterateObj &visitor, int from, int mask) override;
  void Iterate(TIterateObj &visitor, int mask) override;
  void Iterate2(TIterateObj2 &visitor, TBasicNetwork *network2, int mask) override;
  void Iterate3(TIterateObj3 &visitor, TBasicNetwork *network2, TBasicNetwork *network3,
                int mask) override;
  const char *GetConnectionsNType() const override { return "ToOutputConnections"; }
  unsigned char GetFlags(int from, int) const override { return flags[from]; }
  // Stores val unchecked.
  void SetFlags(int from, int, unsigned char val) override { flags[from] = val; }
  void Destroy() override { delete this; }
  // Keeps the centres; flags start afresh.
  TBasicConnections *Clone(TBasicNetwork *owner) const override;
  void RemoveFromNeuron(int index) override;
  void RemoveToNeuron(int index) override;

  // Centre of function l of an output with m functions: l / (m - 1).
  void ResetCentres();

  int NumCentres() const { return static_cast<int>(weights.size()); }

  TVemoOutputLayer *outputLayer; // layer `to`, not owned
  std::vector<double> weights;
  std::vector<unsigned char> flags;

private:
  // Action neurons that can be visited: those with a centre and an output.
  int NumArcs() const;
  void VisitNeuron(TIterateObj &visitor, int k, int mask);
  template <class Visitor>
  void VisitTwins(Visitor &visitor, TBasicConnections *conn2, TBasicConnections *conn3,
                  int mask);
};

// matrix as a TToOutputConnections (per pattern, so the exact class is
// recognised without a cast); nullptr for other classes.
TToOutputConnections *CentresOf(TBasicConnections *matrix);

} // namespace kestrane

#endif
