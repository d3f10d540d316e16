#ifndef KESTRANE_NEURALNETS_TCONNECTEDCONNECTIONS_H
#define KESTRANE_NEURALNETS_TCONNECTEDCONNECTIONS_H

#include "NeuralNets/TBasicConnections.h"

#include <vector>

namespace kestrane {

// Every arc exists and is trainable. Weights row by row, one row per to-neuron.
// GetWeights/SetWeights use from-neuron major order.
class TConnectedConnections : public TBasicConnections {
public:
  TConnectedConnections(TBasicNetwork *network, int from, int to);

  int GetNumWeights(int mask) override;
  int GetWeights(double *out, int mask) override;
  int SetWeights(const double *in, int mask) override;
  void Randomize(double min, double max) override;
  double *GetWeightPtr(int from, int to) override { return &index_weights[to][from]; }
  void AddNetInputs(double *net) override;
  bool IsValid(int, int) const override { return true; }
  void AddArc(int, int) override {}
  void UnfreezeArc(int, int) override {}
  void IterateInArcs(TIterateObj &visitor, int to, int mask) override;
  void IterateOutArcs(TIterateObj &visitor, int from, int mask) override;
  void Iterate(TIterateObj &visitor, int mask) override;
  void Iterate2(TIterateObj2 &visitor, TBasicNetwork *network2, int mask) override;
  void Iterate3(TIterateObj3 &visitor, TBasicNetwork *network2, TBasicNetwork *network3,
                int mask) override;
  const char *GetConnectionsNType() const override { return "FullyConnected"; }
  void Destroy() override { delete this; }
  TBasicConnections *Clone(TBasicNetwork *owner) const override;
  void RemoveFromNeuron(int index) override;
  void RemoveToNeuron(int index) override;
  void InsertFromNeuron(int index, double min, double max, bool attached) override;
  void InsertToNeuron(int index, double min, double max, bool attached) override;

  std::vector<double> array_weights;   // t*f
  std::vector<double *> index_weights; // row of to-neuron k

private:
  void PointRows();
  // Stored shape; equals the layers' counts except in the middle of a neuron edit.
  int Rows() const { return static_cast<int>(index_weights.size()); }
  int Cols() const;
};

} // namespace kestrane

#endif
