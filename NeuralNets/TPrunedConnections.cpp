#include "NeuralNets/TPrunedConnections.h"

#include "KQmessage/KAssert.h"
#include "NeuralNets/MatrixReshape.h"
#include "NeuralNets/RowSums.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kestrane {

TPrunedConnections::TPrunedConnections(TBasicNetwork *network, int from, int to)
    : TArcWalk(network, from, to) {
  const int f = GetNumFromNeurons();
  const int t = GetNumToNeurons();
  index_weights.assign(static_cast<size_t>(t), nullptr);
  index_masks.assign(static_cast<size_t>(t), nullptr);
  array_weights.assign(static_cast<size_t>(t) * f, 0.0);
  array_masks.assign(static_cast<size_t>(t) * f, FMaskAll);
  PointRows();
}

void TPrunedConnections::PointRows() {
  const int f = Cols();
  index_masks.resize(index_weights.size());
  reshape::PointRows(index_weights, array_weights, f);
  reshape::PointRows(index_masks, array_masks, f);
}

void TPrunedConnections::Randomize(double min, double max) {
  const size_t n = array_weights.size();
  for (size_t i = 0; i < n; ++i) {
    if ((array_masks[i] & FMaskTrainable) == 0)
      continue;
    array_weights[i] = (min != max) ? RandomWeight(min, max) : min;
  }
}

void TPrunedConnections::AddNetInputs(double *net) {
  kernels::AddRowSums(Rows(), Cols(), array_weights.data(), array_masks.data(),
                      GetFromLayer()->activations.data(), net);
}

bool TPrunedConnections::IsValid(int from, int to) const {
  return (index_masks[to][from] & FMaskExists) != 0;
}

bool TPrunedConnections::IsTrainable(int from, int to) const {
  return (index_masks[to][from] & FMaskTrainable) != 0;
}

void TPrunedConnections::RemoveArc(int from, int to) {
  index_masks[to][from] = 0;
  index_weights[to][from] = 0.0;
}

void TPrunedConnections::AddArc(int from, int to) {
  if (index_masks[to][from] & FMaskExists)
    return;
  index_masks[to][from] = FMaskAll;
  index_weights[to][from] = 0.0;
}

void TPrunedConnections::UnfreezeArc(int from, int to) {
  if (index_masks[to][from] & FMaskExists)
    index_masks[to][from] |= FMaskTrainable;
}

void TPrunedConnections::FreezeArc(int from, int to) {
  index_masks[to][from] &= static_cast<unsigned char>(~FMaskTrainable);
}

template <class Arc>
void TPrunedConnections::EachArc(Arc &&arc) {
  const int f = Cols();
  const int t = Rows();
  for (int k = 0; k < t; ++k)
    for (int j = 0; j < f; ++j)
      arc(j, k, index_masks[k][j]);
}

template <class Arc>
void TPrunedConnections::EachInArc(int to, Arc &&arc) {
  const int f = Cols();
  for (int j = 0; j < f; ++j)
    arc(j, to, index_masks[to][j]);
}

template <class Arc>
void TPrunedConnections::EachOutArc(int from, Arc &&arc) {
  const int t = Rows();
  for (int k = 0; k < t; ++k)
    arc(from, k, index_masks[k][from]);
}

template class TArcWalk<TPrunedConnections>;

TBasicConnections *TPrunedConnections::Clone(TBasicNetwork *owner) const {
  auto *x = new TPrunedConnections(network, from, to);
  KASSERT_TEXT(x != nullptr, "x!=nil");
  KASSERT_TEXT(x->index_weights.size() == index_weights.size(), "x -> index_weights != nil");
  KASSERT_TEXT(x->index_masks.size() == index_masks.size(), "x -> index_masks != nil");
  KASSERT_TEXT(x->array_weights.size() == array_weights.size(), "x -> array_weights != nil");
  KASSERT_TEXT(x->array_masks.size() == array_masks.size(), "x -> array_masks != nil");
  x->network = owner;
  x->array_weights = array_weights;
  x->array_masks = array_masks;
  x->PointRows();
  return x;
}

void TPrunedConnections::RemoveFromNeuron(int index) {
  const int t = Rows();
  if (t > 0) {
    const int f = Cols();
    array_weights = reshape::RemoveColumn(array_weights, t, f, index);
    array_masks = reshape::RemoveColumn(array_masks, t, f, index);
  }
  PointRows();
}

void TPrunedConnections::RemoveToNeuron(int index) {
  const int f = Cols();
  const int t = Rows();
  array_weights = reshape::RemoveRow(array_weights, t, f, index);
  array_masks = reshape::RemoveRow(array_masks, t, f, index);
  index_weights.pop_back();
  index_masks.pop_back();
  reshape::PointRows(index_weights, array_weights, f);
  reshape::PointRows(index_masks, array_masks, f);
}

void TPrunedConnections::InsertFromNeuron(int index, double min, double max, bool attached) {
  const int t = Rows();
  if (t == 0)
    return;
  const int f = Cols();
  array_weights = reshape::InsertColumn(array_weights, t, f, index);
  array_masks = reshape::InsertColumn(array_masks, t, f, index);
  PointRows();
  for (int k = 0; k < t; ++k) {
    if (attached) {
      index_weights[k][index] = RandomWeight(min, max);
      index_masks[k][index] = FMaskAll;
    } else {
      index_weights[k][index] = 0.0;
      index_masks[k][index] = 0;
    }
  }
}

void TPrunedConnections::InsertToNeuron(int index, double min, double max, bool attached) {
  const int f = Cols();
  const int t = Rows();
  array_weights = reshape::InsertRow(array_weights, t, f, index);
  array_masks = reshape::InsertRow(array_masks, t, f, index);
  index_weights.push_back(nullptr);
  index_masks.push_back(nullptr);
  reshape::PointRows(index_weights, array_weights, f);
  reshape::PointRows(index_masks, array_masks, f);
  for (int j = 0; j < f; ++j) {
    if (attached) {
      index_weights[index][j] = RandomWeight(min, max);
      index_masks[index][j] = FMaskAll;
    } else {
      index_weights[index][j] = 0.0;
      index_masks[index][j] = 0;
    }
  }
}

} // namespace kestrane
