#include "Vemo/VemoPatternLoop.h"

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/ColumnKernels.h"
#include "NeuralNets/FastEpoch.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TPrunedConnections.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemoBP.h"
#include "Vemo/TVemoOutputLayer.h"

#include <algorithm>
#include <iostream>
#include <typeinfo>

namespace kestrane {

namespace {

using kernels::ArcBlock;

// The matrices of the layout; every other cell of the grid must be empty.
bool IsLayoutMatrix(int t, int f) { return t == f + 1 && f >= 1 && f <= 4; }

// A layer of plain neurons whose common function is the sigmoid, each neuron
// writing its own slot (what TSimpleLayer::ApplyActivation assumes inline).
bool SigmoidLayer(TBasicLayer &layer) {
  if (typeid(layer) != typeid(TSimpleLayer) || layer.GetLayerActFunction() != ActSigmoid)
    return false;
  auto &simple = static_cast<TSimpleLayer &>(layer);
  if (simple.nodes.size() < static_cast<size_t>(layer.numNeurons))
    return false;
  for (int i = 0; i < layer.numNeurons; ++i)
    if (simple.nodes[static_cast<size_t>(i)].activation != &layer.activations[static_cast<size_t>(i)])
      return false;
  return true;
}

// The flags the forward pass reads (exists bits), or nullptr when every arc exists.
bool ExistsMask(TBasicConnections &matrix, const unsigned char *&mask) {
  mask = nullptr;
  if (typeid(matrix) != typeid(TPrunedConnections))
    return true; // a fully connected matrix: Describe accepted only the two row classes
  auto &pruned = static_cast<TPrunedConnections &>(matrix);
  if (!kernels::AllHave(pruned.array_masks.data(), pruned.array_masks.size(), FMaskExists))
    mask = pruned.array_masks.data();
  return true;
}

// Centres stay put through an on-line epoch only while their blocks' steps are
// skipped: their gradients zeroed and the last step, with this epoch's rate and
// momentum, found to change nothing.
bool IdleUnder(const ArcBlock &b, const kernels::StepAfterBackprop &step) {
  return b.state == ArcBlock::kZero && b.idle && kernels::SameBits(b.idleRate, step.rate) &&
         kernels::SameBits(b.idleMomentum, step.momentum);
}

void Sigmoids(double *a, int n) {
  for (int i = 0; i < n; ++i)
    a[i] = SigmoidOf(a[i]);
}

void SigmoidSlopes(double *delta, const double *y, int n) {
  for (int i = 0; i < n; ++i)
    delta[i] *= y[i] * (1 - y[i]);
}

} // namespace

bool TVemoPatternLoop::Plan(TFastEpoch &epoch) {
  TBasicNetwork &net = epoch.Network();
  if (net.numLayers != 6 || net.inLayer != 1 || net.outLayer != 5 || epoch.NumBlocks() != 4)
    return false;
  for (int t = 0; t < 6; ++t)
    for (int f = 0; f < 6; ++f)
      if ((epoch.Block(t, f) != nullptr) != IsLayoutMatrix(t, f))
        return false;
  for (int l = 0; l < 6; ++l)
    if (net.layers[l]->layerNum != l)
      return false;
  if (net.layers[0]->numNeurons != 0 || typeid(*net.layers[1]) != typeid(TSimpleInputLayer) ||
      typeid(*net.layers[2]) != typeid(TConditionLayer) || !SigmoidLayer(*net.layers[3]) ||
      !SigmoidLayer(*net.layers[4]) || typeid(*net.layers[5]) != typeid(TVemoOutputLayer))
    return false;
  condition = static_cast<TConditionLayer *>(net.layers[2]);
  output = static_cast<TVemoOutputLayer *>(net.layers[5]);
  numIn = net.layers[1]->numNeurons;
  numCond = condition->numNeurons;
  numRules = net.layers[3]->numNeurons;
  numActions = net.layers[4]->numNeurons;
  numOut = output->numNeurons;
  if (!condition->HasCounts() || condition->GetNumInputs() > numIn ||
      condition->GetLayerActFunction() != ActVemoCondition ||
      condition->nodes.size() < static_cast<size_t>(numCond))
    return false;
  for (int j = 0; j < numCond; ++j)
    if (condition->nodes[static_cast<size_t>(j)].activation != &condition->activations[static_cast<size_t>(j)])
      return false;

  TBasicConnections *centreMatrix = net.priv_conns_index[5][4];
  if (typeid(*centreMatrix) != typeid(TToOutputConnections))
    return false;
  auto *own = static_cast<TToOutputConnections *>(centreMatrix);
  counts = output->GetMFCounts();
  int mapped = 0;
  for (int c : counts)
    mapped += c;
  if (static_cast<int>(counts.size()) != numOut || mapped != numActions ||
      output->GetNumMapped() != numActions || own->NumCentres() < numActions)
    return false;
  centres = own->weights.data();

  ruleArcs = epoch.Block(3, 2);
  actionArcs = epoch.Block(4, 3);
  for (ArcBlock *b : {ruleArcs, actionArcs})
    if (b->kind != ArcBlock::kRows)
      return false;
  ExistsMask(*net.priv_conns_index[3][2], ruleExists);
  ExistsMask(*net.priv_conns_index[4][3], actionExists);
  if (!epoch.Holding()) {
    const kernels::StepAfterBackprop &step = epoch.Fold();
    for (ArcBlock *b : {ruleArcs, actionArcs})
      if (b->held != 0 || b->stepped)
        return false;
    if (!IdleUnder(*epoch.Block(2, 1), step) || !IdleUnder(*epoch.Block(5, 4), step))
      return false;
  }

  inputOf.resize(static_cast<size_t>(numCond));
  for (int j = 0; j < numCond; ++j)
    inputOf[static_cast<size_t>(j)] = condition->GetInputOfNeuron(j);
  outputOf.resize(static_cast<size_t>(numActions));
  for (int k = 0; k < numActions; ++k)
    outputOf[static_cast<size_t>(k)] = output->GetOutputOfAction(k);
  x = net.layers[1]->activations.data();
  cond = condition->activations.data();
  rule = net.layers[3]->activations.data();
  action = net.layers[4]->activations.data();
  out = output->activations.data();
  int most = 0;
  for (int c : counts)
    most = std::max(most, c);
  num.assign(static_cast<size_t>(numOut), 0.0);
  den.assign(static_cast<size_t>(numOut), 0.0);
  outDelta.assign(static_cast<size_t>(numOut), 0.0);
  degrees.assign(static_cast<size_t>(most), 0.0);
  actionDelta.assign(static_cast<size_t>(numActions), 0.0);
  for (std::vector<double> &buffer : condBuf)
    buffer.assign(static_cast<size_t>(numCond), 0.0);
  return true;
}

void TVemoPatternLoop::Fuzzify(const double *input, double *degrees) {
  std::copy(input, input + numIn, x);
  const TConditionNeuron *node = condition->nodes.data();
  for (int j = 0; j < numCond; ++j)
    degrees[j] = ConditionDegree(node[j], x[inputOf[static_cast<size_t>(j)]]);
}

void TVemoPatternLoop::RuleSums(const double *degrees) {
  if (columns) {
    std::fill(ruleSum.begin(), ruleSum.end(), 0.0);
    kernels::AddColumnSums(stride, numCond, ruleW.data(), degrees, ruleSum.data());
  } else {
    std::fill(ruleSum.begin(), ruleSum.begin() + numRules, 0.0);
    kernels::AddRowSums(numRules, numCond, ruleArcs->w, ruleExists, degrees, ruleSum.data());
  }
}

void TVemoPatternLoop::FinishForward(const double *degrees) {
  // The layer's net inputs start at +0.0 before its one matrix adds its sums.
  for (int k = 0; k < numRules; ++k)
    rule[k] = SigmoidOf(0.0 + ruleSum[static_cast<size_t>(k)]);
  std::fill(action, action + numActions, 0.0);
  kernels::AddRowSums(numActions, numRules, actionArcs->w, actionExists, rule, action);
  Sigmoids(action, numActions);

  std::fill(num.begin(), num.end(), 0.0);
  std::fill(den.begin(), den.end(), 0.0);
  for (int k = 0; k < numActions; ++k) {
    const int o = outputOf[static_cast<size_t>(k)];
    num[o] += action[k] * centres[k];
    den[o] += action[k];
  }
  for (int o = 0; o < numOut; ++o) {
    // A sum that is 0 or not a number gives 0.
    const bool none = !(num[o] < 0.0 || num[o] > 0.0) || !(den[o] < 0.0 || den[o] > 0.0);
    const double y = none ? 0.0 : num[o] / den[o];
    if (!(y >= 0 && y <= 1)) {
      std::copy(degrees, degrees + numCond, cond);
      std::cout << y << std::endl;
      throw TException("Defuzzified output outside [0, 1]", kBadParameter,
                       "TVemoOutputLayer::Propagate");
    }
    out[o] = y;
  }
}

// The action deltas of TVemoBP::BackpropagateDeltas: each target, recovered
// from the output delta, fuzzified with its output's own terms.
void TVemoPatternLoop::Desired(const double *target) {
  for (int o = 0; o < numOut; ++o)
    outDelta[o] = out[o] - target[o];
  int k = 0;
  for (int j = 0; j < numOut; ++j) {
    const int m = counts[static_cast<size_t>(j)];
    TVemoBP::DesiredDegrees(out[j] - outDelta[j], centres + k, m, degrees.data());
    for (int l = 0; l < m; ++l, ++k)
      actionDelta[k] = action[k] - degrees[l];
  }
}

void TVemoPatternLoop::HoldColumns() {
  const size_t n = static_cast<size_t>(stride) * static_cast<size_t>(numCond);
  ruleW.assign(n, 0.0);
  ruleD.assign(n, 0.0);
  for (int k = 0; k < numRules; ++k)
    for (int j = 0; j < numCond; ++j) {
      const size_t from = static_cast<size_t>(k) * numCond + j;
      const size_t to = static_cast<size_t>(j) * stride + k;
      ruleW[to] = ruleArcs->w[from];
      ruleD[to] = ruleArcs->d[from];
    }
}

void TVemoPatternLoop::ReturnColumns() {
  for (int k = 0; k < numRules; ++k)
    for (int j = 0; j < numCond; ++j) {
      const size_t from = static_cast<size_t>(j) * stride + k;
      const size_t to = static_cast<size_t>(k) * numCond + j;
      ruleArcs->w[to] = ruleW[from];
      ruleArcs->d[to] = ruleD[from];
    }
}

int TVemoPatternLoop::Run(TFastEpoch &epoch, const Rows &rows, int count) {
  if (!Plan(epoch))
    return 0;
  const bool batch = epoch.Holding();
  kernels::StepAfterBackprop step = epoch.Fold();
  step.keepGradient = false; // the next pattern's fresh sweep overwrites them
  for (ArcBlock *b : {ruleArcs, actionArcs}) {
    if (batch) {
      TFastEpoch::Settle(*b);
      b->Mark(ArcBlock::kWritten);
    } else if (b->state == ArcBlock::kWritten && b->foldZero) {
      // The zeroing of the next pattern, folded into its sweep as the general
      // step does; from zeroed gradients, +0.0 + d*y is that sweep's 0.0 + d*y.
      b->Mark(ArcBlock::kPendingZero);
    } else if (b->state != ArcBlock::kZero && b->state != ArcBlock::kPendingZero) {
      kernels::ZeroGradient(*b);
    }
  }
  // A rule matrix whose arcs all exist and train is held by columns for the run.
  columns = ruleArcs->mask == nullptr && ruleExists == nullptr;
  stride = columns ? kernels::ColumnStride(numRules) : numRules;
  ruleSum.assign(static_cast<size_t>(stride), 0.0);
  ruleDelta.assign(static_cast<size_t>(stride), 0.0);
  if (columns)
    HoldColumns();
  try {
    int now = 0;
    rows.table->GetNextRow(rows.input, rows.target);
    Fuzzify(rows.input, condBuf[now].data());
    RuleSums(condBuf[now].data());
    for (int p = 0; p < count; ++p) {
      const double *degreesNow = condBuf[now].data();
      FinishForward(degreesNow);
      rows.measure->Accumulate(rows.target, out);
      Desired(rows.target);
      SigmoidSlopes(actionDelta.data(), action, numActions);
      std::fill(ruleDelta.begin(), ruleDelta.end(), 0.0);
      if (batch)
        kernels::HoldGradient(*actionArcs, actionDelta.data(), ruleDelta.data(), rule);
      else
        kernels::Backprop(*actionArcs, actionDelta.data(), ruleDelta.data(), rule, true, step);
      SigmoidSlopes(ruleDelta.data(), rule, numRules);
      const bool more = p + 1 < count;
      double *degreesNext = condBuf[1 - now].data();
      if (more) {
        rows.table->GetNextRow(rows.input, rows.target);
        Fuzzify(rows.input, degreesNext);
      }
      if (batch) {
        kernels::HoldGradient(*ruleArcs, ruleDelta.data(), nullptr, degreesNow);
        if (more)
          RuleSums(degreesNext);
      } else if (columns) {
        // The step, and with it the next pattern's rule sums.
        if (more)
          std::fill(ruleSum.begin(), ruleSum.end(), 0.0);
        kernels::ColumnStep(stride, numCond, ruleW.data(), ruleD.data(), ruleDelta.data(),
                            degreesNow, step.rate, step.momentum, more ? degreesNext : nullptr,
                            more ? ruleSum.data() : nullptr);
      } else {
        kernels::Backprop(*ruleArcs, ruleDelta.data(), nullptr, degreesNow, true, step);
        if (more)
          RuleSums(degreesNext);
      }
      now = 1 - now;
    }
  } catch (...) {
    // As the general step leaves a pattern whose forward pass failed: the
    // steps before it taken, its deltas cleared.
    if (columns && !batch)
      ReturnColumns();
    for (TBasicLayer *layer : epoch.Gradients().layers)
      std::fill(layer->activations.begin(), layer->activations.end(), 0.0);
    throw;
  }
  if (columns && !batch)
    ReturnColumns();
  return count;
}

} // namespace kestrane
