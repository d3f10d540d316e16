#ifndef KESTRANE_NEURALNETS_TCONNECTEDCONNECTIONS_H
#define KESTRANE_NEURALNETS_TCONNECTEDCONNECTIONS_H

#include "NeuralNets/ArcWalk.h"

#include <vector>

namespace kestrane {

class TConnectedConnections;
// Instantiated in TConnectedConnections.cpp, beside the enumerators.
extern template class TArcWalk<TConnectedConnections>;

// Every arc exists and is trainable. Weights row by row, one row per to-neuron.
// GetWeights/SetWeights use from-neuron major order.
class TConnectedConnections : public TArcWalk<TConnectedConnections> {
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
  static constexpr const char *kTypeName = "FullyConnected";
  const char *GetConnectionsNType() const override { return kTypeName; }
  void Destroy() override { delete this; }
  TBasicConnections *Clone(TBasicNetwork *owner) const override;
  void RemoveFromNeuron(int index) override;
  void RemoveToNeuron(int index) override;
  void InsertFromNeuron(int index, double min, double max, bool attached) override;
  void InsertToNeuron(int index, double min, double max, bool attached) override;

  std::vector<double> array_weights;   // t*f
  std::vector<double *> index_weights; // row of to-neuron k

private:
  // The arcs in visiting order (see ArcWalk.h).
  friend class TArcWalk<TConnectedConnections>;
  template <class Arc>
  void EachArc(Arc &&arc);
  template <class Arc>
  void EachInArc(int to, Arc &&arc);
  template <class Arc>
  void EachOutArc(int from, Arc &&arc);

  void PointRows();
  // Stored shape; equals the layers' counts except in the middle of a neuron edit.
  int Rows() const { return static_cast<int>(index_weights.size()); }
  int Cols() const;
};

} // namespace kestrane

#endif
