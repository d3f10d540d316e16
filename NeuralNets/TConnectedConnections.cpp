#include "NeuralNets/TConnectedConnections.h"

#include "KQmessage/KAssert.h"
#include "NeuralNets/MatrixReshape.h"
#include "NeuralNets/RowSums.h"
#include "NeuralNets/TBasicNetwork.h"

#include <algorithm>

namespace kestrane {

TConnectedConnections::TConnectedConnections(TBasicNetwork *network, int from, int to)
    : TArcWalk(network, from, to) {
  const int f = GetNumFromNeurons();
  const int t = GetNumToNeurons();
  index_weights.assign(static_cast<size_t>(t), nullptr);
  array_weights.assign(static_cast<size_t>(t) * f, 0.0);
  PointRows();
}

int TConnectedConnections::Cols() const {
  // A matrix without rows has no stored width; the layer knows it.
  return Rows() > 0 ? static_cast<int>(array_weights.size()) / Rows() : GetNumFromNeurons();
}

void TConnectedConnections::PointRows() {
  reshape::PointRows(index_weights, array_weights, Cols());
}

int TConnectedConnections::GetNumWeights(int) { return static_cast<int>(array_weights.size()); }

int TConnectedConnections::GetWeights(double *out, int) {
  const int f = Cols();
  const int t = Rows();
  int n = 0;
  for (int j = 0; j < f; ++j)
    for (int k = 0; k < t; ++k)
      out[n++] = index_weights[k][j];
  return n;
}

int TConnectedConnections::SetWeights(const double *in, int) {
  const int f = Cols();
  const int t = Rows();
  int n = 0;
  for (int j = 0; j < f; ++j)
    for (int k = 0; k < t; ++k)
      index_weights[k][j] = in[n++];
  return n;
}

void TConnectedConnections::Randomize(double min, double max) {
  if (min != max) {
    for (double &w : array_weights)
      w = RandomWeight(min, max);
  } else {
    std::fill(array_weights.begin(), array_weights.end(), min);
  }
}

void TConnectedConnections::AddNetInputs(double *net) {
  kernels::AddRowSums(Rows(), Cols(), array_weights.data(), nullptr,
                      GetFromLayer()->activations.data(), net);
}

template <class Arc>
void TConnectedConnections::EachArc(Arc &&arc) {
  const int f = Cols();
  const int t = Rows();
  for (int k = 0; k < t; ++k)
    for (int j = 0; j < f; ++j)
      arc(j, k, FMaskAll);
}

template <class Arc>
void TConnectedConnections::EachInArc(int to, Arc &&arc) {
  const int f = Cols();
  for (int j = 0; j < f; ++j)
    arc(j, to, FMaskAll);
}

template <class Arc>
void TConnectedConnections::EachOutArc(int from, Arc &&arc) {
  const int t = Rows();
  for (int k = 0; k < t; ++k)
    arc(from, k, FMaskAll);
}

template class TArcWalk<TConnectedConnections>;

TBasicConnections *TConnectedConnections::Clone(TBasicNetwork *owner) const {
  // Sized from the source's network, then handed to the new owner.
  auto *x = new TConnectedConnections(network, from, to);
  KASSERT_TEXT(x != nullptr, "x!=nil");
  KASSERT_TEXT(x->index_weights.size() == index_weights.size(), "x -> index_weights != nil");
  KASSERT_TEXT(x->array_weights.size() == array_weights.size(), "x -> array_weights != nil");
  x->network = owner;
  x->array_weights = array_weights;
  x->PointRows();
  return x;
}

void TConnectedConnections::RemoveFromNeuron(int index) {
  const int t = Rows();
  if (t > 0)
    array_weights = reshape::RemoveColumn(array_weights, t, Cols(), index);
  PointRows();
}

void TConnectedConnections::RemoveToNeuron(int index) {
  const int f = Cols();
  const int t = Rows();
  array_weights = reshape::RemoveRow(array_weights, t, f, index);
  index_weights.pop_back();
  reshape::PointRows(index_weights, array_weights, f);
}

void TConnectedConnections::InsertFromNeuron(int index, double min, double max, bool attached) {
  KASSERT_TEXT(attached, "attached");
  const int t = Rows();
  if (t == 0)
    return;
  const int f = Cols() + 1;
  array_weights = reshape::InsertColumn(array_weights, t, f - 1, index);
  PointRows();
  for (int k = 0; k < t; ++k)
    index_weights[k][index] = RandomWeight(min, max);
}

void TConnectedConnections::InsertToNeuron(int index, double min, double max, bool attached) {
  KASSERT_TEXT(attached, "attached");
  const int f = Cols();
  const int t = Rows();
  array_weights = reshape::InsertRow(array_weights, t, f, index);
  index_weights.push_back(nullptr);
  reshape::PointRows(index_weights, array_weights, f);
  for (int j = 0; j < f; ++j)
    index_weights[index][j] = RandomWeight(min, max);
}

} // namespace kestrane
