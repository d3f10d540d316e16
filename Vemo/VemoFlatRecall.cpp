#include "Vemo/VemoFlatRecall.h"

#include "NeuralNets/ColumnKernels.h"
#include "NeuralNets/RowSums.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoOutputLayer.h"
#include "Vemo/UsualLayers.h"

#include <algorithm>
#include <typeinfo>

namespace kestrane {

namespace {

// The matrices the layer-by-layer recall reads: the rule and action layers
// add every matrix from a layer below them; the condition and output layers
// read only their own.
bool ReadsMatrix(int t, int f) {
  return f < t && (t == TVemo::kRuleLayer || t == TVemo::kActionLayer);
}

// The weights of a matrix stored row by row, its shape checked as the
// general recall's AddNetInputs assumes it.
template <class M>
bool RowsMatch(const M &m, int rows, int cols) {
  return static_cast<int>(m.index_weights.size()) == rows && rows > 0 &&
         m.array_weights.size() == static_cast<size_t>(rows) * static_cast<size_t>(cols);
}

} // namespace

bool TVemoFlatRecall::Take(Matrix &m, TBasicConnections &matrix, int rows, int cols) {
  const double *w = nullptr;
  const unsigned char *flags = nullptr;
  if (typeid(matrix) == typeid(TConnectedConnections)) {
    auto &c = static_cast<TConnectedConnections &>(matrix);
    if (!RowsMatch(c, rows, cols))
      return false;
    w = c.array_weights.data();
  } else if (typeid(matrix) == typeid(TPrunedConnections)) {
    auto &c = static_cast<TPrunedConnections &>(matrix);
    if (!RowsMatch(c, rows, cols) || c.array_masks.size() != c.array_weights.size())
      return false;
    w = c.array_weights.data();
    flags = c.array_masks.data();
  } else {
    return false;
  }
  const size_t n = static_cast<size_t>(rows) * static_cast<size_t>(cols);
  m.rows = rows;
  m.cols = cols;
  // Each row's sum adds its arcs in column order either way; a removed arc
  // adds nothing in the general recall, so it needs its flag.
  m.columns = flags == nullptr || kernels::AllHave(flags, n, FMaskExists);
  if (m.columns) {
    m.stride = kernels::ColumnStride(rows);
    m.w.assign(static_cast<size_t>(m.stride) * static_cast<size_t>(cols), 0.0);
    for (int k = 0; k < rows; ++k)
      for (int j = 0; j < cols; ++j)
        m.w[static_cast<size_t>(j) * m.stride + k] = w[static_cast<size_t>(k) * cols + j];
    m.exists.clear();
  } else {
    m.stride = rows;
    m.w.assign(w, w + n);
    m.exists.assign(flags, flags + n);
  }
  return true;
}

void TVemoFlatRecall::Matrix::Sums(int n, const double *const a[], double *const sums[]) const {
  if (columns && n == kLanes) {
    kernels::AddColumnSums4(stride, cols, w.data(), a, sums, true);
    return;
  }
  for (int p = 0; p < n; ++p) {
    std::fill(sums[p], sums[p] + stride, 0.0);
    if (columns)
      kernels::AddColumnSums(stride, cols, w.data(), a[p], sums[p]);
    else
      kernels::AddRowSums(rows, cols, w.data(), exists.data(), a[p], sums[p]);
  }
}

bool TVemoFlatRecall::Plan(TVemo &net) {
  if (!HasUsualVemoLayers(net))
    return false;
  for (int t = 0; t < TVemo::kNumLayers; ++t)
    for (int f = 0; f < t; ++f)
      if (ReadsMatrix(t, f) && net.priv_conns_index[t][f]->IsConnected() != (f == t - 1))
        return false;
  TBasicLayer &inputLayer = *net.layers[TVemo::kInputLayer];
  TBasicLayer &conditionLayer = *net.layers[TVemo::kConditionLayer];
  TBasicLayer &ruleLayer = *net.layers[TVemo::kRuleLayer];
  TBasicLayer &actionLayer = *net.layers[TVemo::kActionLayer];
  TBasicLayer &outputLayer = *net.layers[TVemo::kOutputLayer];
  auto &condition = static_cast<TConditionLayer &>(conditionLayer);
  auto &output = static_cast<TVemoOutputLayer &>(outputLayer);
  numIn = inputLayer.numNeurons;
  numCond = condition.numNeurons;
  numRules = ruleLayer.numNeurons;
  numActions = actionLayer.numNeurons;
  numOut = output.numNeurons;
  if (numIn < 1 || numOut < 1 || !condition.HasCounts() || condition.GetNumInputs() > numIn ||
      condition.GetLayerActFunction() != ActVemoCondition ||
      condition.nodes.size() < static_cast<size_t>(numCond))
    return false;
  for (int j = 0; j < numCond; ++j)
    if (condition.nodes[static_cast<size_t>(j)].activation !=
        &condition.activations[static_cast<size_t>(j)])
      return false;

  TBasicConnections *centreMatrix = net.priv_conns_index[TVemo::kOutputLayer][TVemo::kActionLayer];
  if (typeid(*centreMatrix) != typeid(TToOutputConnections))
    return false;
  auto &own = static_cast<TToOutputConnections &>(*centreMatrix);
  counts = output.GetMFCounts();
  int mapped = 0;
  for (int c : counts) {
    if (c < 1)
      return false;
    mapped += c;
  }
  if (static_cast<int>(counts.size()) != numOut || mapped != numActions ||
      output.GetNumMapped() != numActions || own.NumCentres() < numActions)
    return false;
  // The centre-of-gravity kernel takes the action nodes in groups, output by output.
  for (int o = 0, k = 0; o < numOut; ++o)
    for (int l = 0; l < counts[static_cast<size_t>(o)]; ++l, ++k)
      if (output.GetOutputOfAction(k) != o)
        return false;
  centres.assign(own.weights.begin(), own.weights.begin() + numActions);

  if (!Take(ruleMatrix, *net.priv_conns_index[TVemo::kRuleLayer][TVemo::kConditionLayer], numRules,
            numCond) ||
      !Take(actionMatrix, *net.priv_conns_index[TVemo::kActionLayer][TVemo::kRuleLayer], numActions,
            numRules))
    return false;

  triangles.Size(numCond);
  for (int j = 0; j < numCond; ++j) {
    const TConditionNeuron &node = condition.nodes[static_cast<size_t>(j)];
    const size_t at = static_cast<size_t>(j);
    triangles.inputOf[at] = condition.GetInputOfNeuron(j);
    triangles.centre[at] = node.centre;
    triangles.left[at] = node.left != nullptr ? node.left->centre : node.centre;
    triangles.right[at] = node.right != nullptr ? node.right->centre : node.centre;
    triangles.hasLeft[at] = node.left != nullptr ? -1 : 0;
    triangles.hasRight[at] = node.right != nullptr ? -1 : 0;
  }
  groups = {numOut, counts.data(), centres.data()};
  for (int p = 0; p < kLanes; ++p) {
    x[p].assign(static_cast<size_t>(numIn), 0.0);
    degrees[p].assign(static_cast<size_t>(triangles.stride), 0.0);
    ruleSum[p].assign(static_cast<size_t>(ruleMatrix.stride), 0.0);
    rule[p].assign(static_cast<size_t>(numRules), 0.0);
    actionSum[p].assign(static_cast<size_t>(actionMatrix.stride), 0.0);
    action[p].assign(static_cast<size_t>(numActions), 0.0);
  }
  laneY.assign(static_cast<size_t>(kLanes) * static_cast<size_t>(numOut), 0.0);
  return true;
}

int TVemoFlatRecall::Recall(int n, const double *const inputs[], double *const outputs[]) {
  const double *a[kLanes] = {};
  double *sums[kLanes] = {};
  for (int p = 0; p < n; ++p) {
    // The condition neurons past the last read input 0 of the copy.
    std::copy(inputs[p], inputs[p] + numIn, x[p].begin());
    kernels::Degrees(triangles, x[p].data(), degrees[p].data());
    a[p] = degrees[p].data();
    sums[p] = ruleSum[p].data();
  }
  ruleMatrix.Sums(n, a, sums);
  for (int p = 0; p < n; ++p) {
    kernels::Sigmoids(ruleSum[p].data(), rule[p].data(), numRules);
    a[p] = rule[p].data();
    sums[p] = actionSum[p].data();
  }
  actionMatrix.Sums(n, a, sums);
  const double *actions[kLanes] = {};
  for (int p = 0; p < n; ++p) {
    kernels::Sigmoids(actionSum[p].data(), action[p].data(), numActions);
    actions[p] = action[p].data();
  }
  kernels::CentresOfGravity4(groups, n, actions, laneY.data());
  for (int p = 0; p < n; ++p) {
    for (int o = 0; o < numOut; ++o) {
      const double y =
          laneY[static_cast<size_t>(kLanes) * static_cast<size_t>(o) + static_cast<size_t>(p)];
      if (!(y >= 0 && y <= 1))
        return p;
    }
    for (int o = 0; o < numOut; ++o)
      outputs[p][o] =
          laneY[static_cast<size_t>(kLanes) * static_cast<size_t>(o) + static_cast<size_t>(p)];
  }
  return n;
}

} // namespace kestrane
