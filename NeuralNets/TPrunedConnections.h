#ifndef KESTRANE_NEURALNETS_TPRUNEDCONNECTIONS_H
#define KESTRANE_NEURALNETS_TPRUNEDCONNECTIONS_H

#include "NeuralNets/ArcWalk.h"

#include <vector>

namespace kestrane {

class TPrunedConnections;
// Instantiated in TPrunedConnections.cpp, beside the enumerators.
extern template class TArcWalk<TPrunedConnections>;

// A flag byte per arc: arcs can be removed, added, frozen and unfrozen. New
// matrices are fully connected and trainable. Weights and flags in parallel
// blocks, row by row.
class TPrunedConnections : public TArcWalk<TPrunedConnections> {
public:
  TPrunedConnections(TBasicNetwork *network, int from, int to);

  void Randomize(double min, double max) override;
  double *GetWeightPtr(int from, int to) override { return &index_weights[to][from]; }
  void AddNetInputs(double *net) override;
  bool IsValid(int from, int to) const override;
  bool IsTrainable(int from, int to) const override;
  void RemoveArc(int from, int to) override;
  void AddArc(int from, int to) override;
  void UnfreezeArc(int from, int to) override;
  void FreezeArc(int from, int to) override;
  static constexpr const char *kTypeName = "Pruneable";
  const char *GetConnectionsNType() const override { return kTypeName; }
  unsigned char GetFlags(int from, int to) const override { return index_masks[to][from]; }
  // Stores val unchecked.
  void SetFlags(int from, int to, unsigned char val) override { index_masks[to][from] = val; }
  void Destroy() override { delete this; }
  TBasicConnections *Clone(TBasicNetwork *owner) const override;
  void RemoveFromNeuron(int index) override;
  void RemoveToNeuron(int index) override;
  void InsertFromNeuron(int index, double min, double max, bool attached) override;
  void InsertToNeuron(int index, double min, double max, bool attached) override;

  std::vector<double> array_weights;
  std::vector<double *> index_weights;
  std::vector<unsigned char> array_masks;
  std::vector<unsigned char *> index_masks;

private:
  // The arcs in visiting order (see ArcWalk.h).
  friend class TArcWalk<TPrunedConnections>;
  template <class Arc>
  void EachArc(Arc &&arc);
  template <class Arc>
  void EachInArc(int to, Arc &&arc);
  template <class Arc>
  void EachOutArc(int from, Arc &&arc);

  void PointRows();
  // Stored shape; equals the layers' counts except in the middle of a neuron edit.
  int Rows() const { return static_cast<int>(index_weights.size()); }
  // The row width; a matrix without rows keeps the from-layer's size.
  int Cols() const {
    return Rows() > 0 ? static_cast<int>(array_weights.size()) / Rows() : GetNumFromNeurons();
  }
};

} // namespace kestrane

#endif
