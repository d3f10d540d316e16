#include "Vemo/VemoPatternLoop.h"

#include "DataObject/Data.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/TException.h"
#include "NeuralNets/ColumnKernels.h"
#include "NeuralNets/FastEpoch.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TPrunedConnections.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoBP.h"
#include "Vemo/TVemoOutputLayer.h"
#include "Vemo/UsualLayers.h"

#include <algorithm>
#include <typeinfo>

namespace kestrane {

namespace {

using kernels::ArcBlock;

// The matrices of the layout; every other cell of the grid must be empty.
bool IsLayoutMatrix(int t, int f) {
  return t == f + 1 && f >= TVemo::kInputLayer && f <= TVemo::kActionLayer;
}

// The flags the forward pass reads (exists bits), or nullptr when every arc
// exists (a fully connected matrix: Describe accepts only the two row classes).
const unsigned char *ExistsMask(TBasicConnections &matrix) {
  if (typeid(matrix) != typeid(TPrunedConnections))
    return nullptr;
  auto &pruned = static_cast<TPrunedConnections &>(matrix);
  if (kernels::AllHave(pruned.array_masks.data(), pruned.array_masks.size(), FMaskExists))
    return nullptr;
  return pruned.array_masks.data();
}

// Centres stay put through an on-line epoch only while their blocks' steps are
// skipped: their gradients zeroed and the last step, with this epoch's rate and
// momentum, found to change nothing.
bool IdleUnder(const ArcBlock &b, const kernels::StepAfterBackprop &step) {
  return b.state == ArcBlock::kZero && b.idle && kernels::SameBits(b.idleRate, step.rate) &&
         kernels::SameBits(b.idleMomentum, step.momentum);
}

} // namespace

bool TVemoPatternLoop::Plan(TFastEpoch &epoch) {
  TBasicNetwork &net = epoch.Network();
  if (!HasUsualVemoLayers(net) || epoch.NumBlocks() != 4)
    return false;
  for (int t = 0; t < TVemo::kNumLayers; ++t)
    for (int f = 0; f < TVemo::kNumLayers; ++f)
      if ((epoch.Block(t, f) != nullptr) != IsLayoutMatrix(t, f))
        return false;
  TBasicLayer &inputLayer = *net.layers[TVemo::kInputLayer];
  TBasicLayer &conditionLayer = *net.layers[TVemo::kConditionLayer];
  TBasicLayer &ruleLayer = *net.layers[TVemo::kRuleLayer];
  TBasicLayer &actionLayer = *net.layers[TVemo::kActionLayer];
  TBasicLayer &outputLayer = *net.layers[TVemo::kOutputLayer];
  condition = static_cast<TConditionLayer *>(&conditionLayer);
  auto *output = static_cast<TVemoOutputLayer *>(&outputLayer);
  numIn = inputLayer.numNeurons;
  numCond = condition->numNeurons;
  numRules = ruleLayer.numNeurons;
  numActions = actionLayer.numNeurons;
  numOut = output->numNeurons;
  if (!condition->HasCounts() || condition->GetNumInputs() > numIn ||
      condition->GetLayerActFunction() != ActVemoCondition ||
      condition->nodes.size() < static_cast<size_t>(numCond))
    return false;
  for (int j = 0; j < numCond; ++j)
    if (condition->nodes[static_cast<size_t>(j)].activation !=
        &condition->activations[static_cast<size_t>(j)])
      return false;

  TBasicConnections *centreMatrix = net.priv_conns_index[TVemo::kOutputLayer][TVemo::kActionLayer];
  if (typeid(*centreMatrix) != typeid(TToOutputConnections))
    return false;
  auto *own = static_cast<TToOutputConnections *>(centreMatrix);
  counts = output->GetMFCounts();
  int mapped = 0, fewest = 2;
  for (int c : counts) {
    mapped += c;
    fewest = std::min(fewest, c);
  }
  if (static_cast<int>(counts.size()) != numOut || mapped != numActions || fewest < 2 ||
      output->GetNumMapped() != numActions || own->NumCentres() < numActions)
    return false;
  centres = own->weights.data();

  ruleArcs = epoch.Block(TVemo::kRuleLayer, TVemo::kConditionLayer);
  actionArcs = epoch.Block(TVemo::kActionLayer, TVemo::kRuleLayer);
  for (ArcBlock *b : {ruleArcs, actionArcs})
    if (b->kind != ArcBlock::kRows)
      return false;
  ruleExists = ExistsMask(*net.priv_conns_index[TVemo::kRuleLayer][TVemo::kConditionLayer]);
  actionExists = ExistsMask(*net.priv_conns_index[TVemo::kActionLayer][TVemo::kRuleLayer]);
  if (!epoch.Holding()) {
    const kernels::StepAfterBackprop &step = epoch.Fold();
    for (ArcBlock *b : {ruleArcs, actionArcs})
      if (b->held != 0 || b->stepped)
        return false;
    if (!IdleUnder(*epoch.Block(TVemo::kConditionLayer, TVemo::kInputLayer), step) ||
        !IdleUnder(*epoch.Block(TVemo::kOutputLayer, TVemo::kActionLayer), step))
      return false;
  }

  // The centres stay put through the run: on-line the idle check above holds
  // for them, and a batch epoch steps them only after its last pattern.
  triangles.Size(numCond);
  for (int j = 0; j < numCond; ++j) {
    const TConditionNeuron &node = condition->nodes[static_cast<size_t>(j)];
    const size_t at = static_cast<size_t>(j);
    triangles.inputOf[at] = condition->GetInputOfNeuron(j);
    triangles.centre[at] = node.centre;
    triangles.left[at] = node.left != nullptr ? node.left->centre : node.centre;
    triangles.right[at] = node.right != nullptr ? node.right->centre : node.centre;
    triangles.hasLeft[at] = node.left != nullptr ? -1 : 0;
    triangles.hasRight[at] = node.right != nullptr ? -1 : 0;
  }
  // The kernels take the action nodes in groups, output by output.
  for (int o = 0, k = 0; o < numOut; ++o)
    for (int l = 0; l < counts[static_cast<size_t>(o)]; ++l, ++k)
      if (output->GetOutputOfAction(k) != o)
        return false;
  x = inputLayer.activations.data();
  cond = condition->activations.data();
  rule = ruleLayer.activations.data();
  action = actionLayer.activations.data();
  out = output->activations.data();
  int most = 0;
  for (int c : counts)
    most = std::max(most, c);
  outDelta.assign(static_cast<size_t>(numOut), 0.0);
  laneY.assign(4 * static_cast<size_t>(numOut), 0.0);
  groups = {numOut, counts.data(), centres};
  across = numOut <= 4 &&
           std::all_of(counts.begin(), counts.end(), [&](int c) { return c == counts.front(); });
  if (across)
    outLanes.Set(numOut, counts.front(), centres);
  degrees.assign(4 * static_cast<size_t>(most), 0.0); // four lanes per term
  return true;
}

void TVemoPatternLoop::Columns::Hold(const ArcBlock &b, bool changes, bool gradients) {
  rows = b.rows;
  cols = b.cols;
  stride = kernels::ColumnStride(rows);
  const size_t n = static_cast<size_t>(stride) * static_cast<size_t>(cols);
  w.assign(n, 0.0);
  d.assign(changes ? n : 0, 0.0);
  g.assign(gradients ? n : 0, 0.0);
  for (int k = 0; k < rows; ++k)
    for (int j = 0; j < cols; ++j) {
      const size_t from = static_cast<size_t>(k) * cols + j;
      const size_t to = static_cast<size_t>(j) * stride + k;
      w[to] = b.w[from];
      if (changes)
        d[to] = b.d[from];
      if (gradients)
        g[to] = b.g[from];
    }
}

void TVemoPatternLoop::Columns::Return(ArcBlock &b) const {
  for (int k = 0; k < rows; ++k)
    for (int j = 0; j < cols; ++j) {
      const size_t from = static_cast<size_t>(j) * stride + k;
      const size_t to = static_cast<size_t>(k) * cols + j;
      if (!d.empty()) { // on-line: the steps
        b.w[to] = w[from];
        b.d[to] = d[from];
      }
      if (!g.empty())
        b.g[to] = g[from];
    }
}

void TVemoPatternLoop::Lane::Size(int condStride, int ruleStride, int numRules, int actionStride,
                                  int numActions, int numOut) {
  degrees.assign(static_cast<size_t>(condStride), 0.0);
  ruleSum.assign(static_cast<size_t>(ruleStride), 0.0);
  rule.assign(static_cast<size_t>(numRules), 0.0);
  ruleDelta.assign(static_cast<size_t>(ruleStride), 0.0);
  actionSum.assign(static_cast<size_t>(actionStride), 0.0);
  action.assign(static_cast<size_t>(numActions), 0.0);
  actionDelta.assign(static_cast<size_t>(actionStride), 0.0);
  out.assign(static_cast<size_t>(numOut), 0.0);
}

void TVemoPatternLoop::LayerSums(const ArcBlock &arcs, const Columns *held,
                                 const unsigned char *exists, int n, const double *const a[],
                                 double *const sums[], int width) {
  if (held != nullptr && n == 4) {
    kernels::AddColumnSums4(held->stride, held->cols, held->w.data(), a, sums, true);
    return;
  }
  for (int i = 0; i < n; ++i) {
    std::fill(sums[i], sums[i] + width, 0.0);
    if (held != nullptr)
      kernels::AddColumnSums(held->stride, held->cols, held->w.data(), a[i], sums[i]);
    else
      kernels::AddRowSums(arcs.rows, arcs.cols, arcs.w, exists, a[i], sums[i]);
  }
}

void TVemoPatternLoop::Fuzzify(const double *input, double *degreesOut) {
  std::copy(input, input + numIn, x);
  kernels::Degrees(triangles, x, degreesOut);
}

// The layer's net inputs start at +0.0 before its one matrix adds its sums
// (a sum that starts at +0.0 is never -0.0, so adding +0.0 twice is harmless).
void TVemoPatternLoop::Activate(const double *sums, double *a, int n) {
  kernels::Sigmoids(sums, a, n);
}

bool TVemoPatternLoop::Defuzzify(const double *actions, double *outputs, double &bad) {
  // Lane o of one vector (outputs across), or lane 0 of output o's.
  const size_t step = across ? 1 : 4;
  if (across)
    kernels::CentresOfGravityAcross(outLanes, actions, laneY.data());
  else
    kernels::CentresOfGravity4(groups, 1, &actions, laneY.data());
  for (int o = 0; o < numOut; ++o) {
    const double y = laneY[step * static_cast<size_t>(o)];
    if (!(y >= 0 && y <= 1)) {
      bad = y;
      return false;
    }
    outputs[o] = y;
  }
  return true;
}

// Defuzzify for up to four patterns side by side, which keeps the divider
// busy; the lanes are then checked in order.
int TVemoPatternLoop::DefuzzifyLanes(Lane *lanes, int n, double &bad) {
  const double *a[4] = {};
  for (int i = 0; i < n; ++i)
    a[i] = lanes[i].action.data();
  kernels::CentresOfGravity4(groups, n, a, laneY.data());
  for (int i = 0; i < n; ++i)
    for (int o = 0; o < numOut; ++o) {
      const double y = laneY[4 * static_cast<size_t>(o) + static_cast<size_t>(i)];
      if (!(y >= 0 && y <= 1)) {
        bad = y;
        return i;
      }
      lanes[i].out[static_cast<size_t>(o)] = y;
    }
  return n;
}

// ActionDeltas for up to four patterns side by side.
void TVemoPatternLoop::ActionDeltasLanes(Lane *lanes, int n) {
  if (n == 0)
    return;
  const double *y[4] = {}, *t[4] = {}, *a[4] = {};
  double *d[4] = {};
  for (int i = 0; i < n; ++i) {
    y[i] = lanes[i].out.data();
    t[i] = lanes[i].target.data();
    a[i] = lanes[i].action.data();
    d[i] = lanes[i].actionDelta.data();
  }
  kernels::ActionErrors4(groups, n, y, t, a, d, degrees.data());
  for (int i = 0; i < n; ++i)
    kernels::SigmoidSlopes(lanes[i].actionDelta.data(), lanes[i].action.data(), numActions);
}

[[noreturn]] void TVemoPatternLoop::FailOutput(double bad) {
  Diagnose(DiagnosticKind::kOutput, StreamText(bad));
  throw TException("Defuzzified output outside [0, 1]", kBadParameter,
                   "TVemoOutputLayer::Propagate");
}

// The action deltas of TVemoBP::BackpropagateDeltas: each target, recovered
// from the output delta, fuzzified with its output's own terms; then the
// action layer's slope.
void TVemoPatternLoop::ActionDeltas(const double *outputs, const double *target,
                                    const double *actions, double *delta) {
  if (across) {
    kernels::ActionErrorsAcross(outLanes, outputs, target, actions, delta, degrees.data());
    kernels::SigmoidSlopes(delta, actions, numActions);
    return;
  }
  for (int o = 0; o < numOut; ++o)
    outDelta[o] = outputs[o] - target[o];
  int k = 0;
  for (int j = 0; j < numOut; ++j) {
    const int m = counts[static_cast<size_t>(j)];
    TVemoBP::DesiredDegrees(outputs[j] - outDelta[j], centres + k, m, degrees.data());
    for (int l = 0; l < m; ++l, ++k)
      delta[k] = actions[k] - degrees[l];
  }
  kernels::SigmoidSlopes(delta, actions, numActions);
}

void TVemoPatternLoop::ClearStoreDeltas(TFastEpoch &epoch) {
  for (TBasicLayer *layer : epoch.Gradients().layers)
    std::fill(layer->activations.begin(), layer->activations.end(), 0.0);
}

void TVemoPatternLoop::PrepareBlocks(bool batch) {
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
}

int TVemoPatternLoop::Run(TFastEpoch &epoch, const Rows &rows, int count) {
  if (!Plan(epoch))
    return 0;
  const bool batch = epoch.Holding();
  PrepareBlocks(batch);
  if (batch)
    RunBatch(epoch, rows, count);
  else
    RunOnline(epoch, rows, count);
  return count;
}

void TVemoPatternLoop::RunOnline(TFastEpoch &epoch, const Rows &rows, int count) {
  kernels::StepAfterBackprop step = epoch.Fold();
  step.keepGradient = false; // the next pattern's fresh sweep overwrites them
  // A rule matrix whose arcs all exist and train is held by columns for the
  // run; its step then adds the next pattern's rule sums.
  const bool columns = ruleArcs->mask == nullptr && ruleExists == nullptr;
  if (columns)
    ruleCols.Hold(*ruleArcs, true, false);
  const int stride = columns ? ruleCols.stride : numRules;
  Lane *lanes = lanePool; // this pattern's and the next one's
  for (Lane &lane : lanePool)
    lane.Size(triangles.stride, stride, numRules, numActions, numActions, numOut);
  double *ruleSum = lanes[0].ruleSum.data(); // one for both: filled for the next pattern
  double *ruleDelta = lanes[0].ruleDelta.data();
  double *actionDelta = lanes[0].actionDelta.data();
  const Columns *ruleHeld = columns ? &ruleCols : nullptr;
  auto ruleSums = [&](const double *a) {
    LayerSums(*ruleArcs, ruleHeld, ruleExists, 1, &a, &ruleSum, stride);
  };
  try {
    int now = 0;
    rows.table->GetNextRow(rows.input, rows.target);
    Fuzzify(rows.input, lanes[now].degrees.data());
    ruleSums(lanes[now].degrees.data());
    for (int p = 0; p < count; ++p) {
      const double *degreesNow = lanes[now].degrees.data();
      Activate(ruleSum, rule, numRules);
      std::fill(action, action + numActions, 0.0);
      kernels::AddRowSums(numActions, numRules, actionArcs->w, actionExists, rule, action);
      Activate(action, action, numActions);
      double bad = 0;
      if (!Defuzzify(action, out, bad)) {
        std::copy(degreesNow, degreesNow + numCond, cond);
        FailOutput(bad);
      }
      rows.measure->Accumulate(rows.target, out);
      ActionDeltas(out, rows.target, action, actionDelta);
      std::fill(ruleDelta, ruleDelta + stride, 0.0);
      if (actionArcs->mask == nullptr)
        kernels::RowStep(numActions, numRules, actionArcs->w, actionArcs->d, actionDelta, ruleDelta,
                         rule, step.rate, step.momentum);
      else
        kernels::Backprop(*actionArcs, actionDelta, ruleDelta, rule, true, step);
      kernels::SigmoidSlopes(ruleDelta, rule, numRules);
      const bool more = p + 1 < count;
      double *degreesNext = lanes[1 - now].degrees.data();
      if (more) {
        rows.table->GetNextRow(rows.input, rows.target);
        Fuzzify(rows.input, degreesNext);
      }
      if (columns) {
        std::fill(ruleSum, ruleSum + stride, 0.0);
        kernels::ColumnStep(stride, numCond, ruleCols.w.data(), ruleCols.d.data(), ruleDelta,
                            degreesNow, step.rate, step.momentum, more ? degreesNext : nullptr,
                            ruleSum);
      } else {
        kernels::Backprop(*ruleArcs, ruleDelta, nullptr, degreesNow, true, step);
        if (more)
          ruleSums(degreesNext);
      }
      now = 1 - now;
    }
  } catch (...) {
    // As the general step leaves a pattern whose forward pass failed: the
    // steps before it taken, its deltas cleared.
    if (columns)
      ruleCols.Return(*ruleArcs);
    ClearStoreDeltas(epoch);
    throw;
  }
  if (columns)
    ruleCols.Return(*ruleArcs);
}

// The weights stay put through a batch epoch, so the patterns go four at a
// time: one pass over each matrix serves four patterns' sums. Each arc still
// adds the patterns' gradients in their order.
void TVemoPatternLoop::RunBatch(TFastEpoch &epoch, const Rows &rows, int count) {
  const bool ruleColumns = ruleArcs->mask == nullptr && ruleExists == nullptr;
  const bool actionColumns = actionArcs->mask == nullptr && actionExists == nullptr;
  // Fully connected matrices are held by columns for the run, their
  // gradients too (as copies, so that each keeps its order of additions).
  if (ruleColumns)
    ruleCols.Hold(*ruleArcs, false, true);
  if (actionColumns)
    actionCols.Hold(*actionArcs, false, true);
  struct GiveBack {
    TVemoPatternLoop &loop;
    bool rule, action;
    ~GiveBack() {
      if (rule)
        loop.ruleCols.Return(*loop.ruleArcs);
      if (action)
        loop.actionCols.Return(*loop.actionArcs);
    }
  } giveBack{*this, ruleColumns, actionColumns};
  const int ruleStride = ruleColumns ? ruleCols.stride : numRules;
  const int actionStride = actionColumns ? actionCols.stride : numActions;
  constexpr int kLanes = 4;
  Lane *lanes = lanePool;
  const size_t inputWidth = static_cast<size_t>(std::max(rows.table->MbrNdxInputs, 1));
  const size_t targetWidth = static_cast<size_t>(std::max(rows.table->MbrNdxOutputs, 1));
  for (Lane &lane : lanePool) {
    lane.Size(triangles.stride, ruleStride, numRules, actionStride, numActions, numOut);
    lane.input.assign(inputWidth, 0.0);
    lane.target.assign(targetWidth, 0.0);
  }
  const double *a[kLanes];
  double *sums[kLanes];
  const double *lastOut = nullptr; // the outputs of the last pattern done
  for (int p = 0; p < count; p += kLanes) {
    const int n = std::min(kLanes, count - p);
    for (int i = 0; i < n; ++i) {
      Lane &lane = lanes[i];
      rows.table->GetNextRow(lane.input.data(), lane.target.data());
      Fuzzify(lane.input.data(), lane.degrees.data());
      a[i] = lane.degrees.data();
      sums[i] = lane.ruleSum.data();
    }
    LayerSums(*ruleArcs, ruleColumns ? &ruleCols : nullptr, ruleExists, n, a, sums, ruleStride);
    for (int i = 0; i < n; ++i) {
      Activate(lanes[i].ruleSum.data(), lanes[i].rule.data(), numRules);
      a[i] = lanes[i].rule.data();
      sums[i] = lanes[i].actionSum.data();
    }
    LayerSums(*actionArcs, actionColumns ? &actionCols : nullptr, actionExists, n, a, sums,
              actionStride);
    for (int i = 0; i < n; ++i)
      Activate(lanes[i].actionSum.data(), lanes[i].action.data(), numActions);
    // The patterns in order; one whose output fails ends the run as the
    // general step would, after the patterns before it.
    double bad = 0;
    const int done = DefuzzifyLanes(lanes, n, bad);
    for (int i = 0; i < done; ++i) {
      rows.measure->Accumulate(lanes[i].target.data(), lanes[i].out.data());
      lastOut = lanes[i].out.data();
    }
    ActionDeltasLanes(lanes, done);
    const double *to[kLanes], *from[kLanes];
    double *down[kLanes];
    for (int i = 0; i < done; ++i) {
      Lane &lane = lanes[i];
      to[i] = lane.actionDelta.data();
      from[i] = lane.rule.data();
      down[i] = lane.ruleDelta.data();
    }
    // The errors passed down start at +0.0 (the rows past numRules stay so).
    if (done == kLanes && actionArcs->mask == nullptr) {
      kernels::PassDown4(numActions, numRules, actionArcs->w, to, down, true);
    } else {
      for (int i = 0; i < done; ++i) {
        std::fill(lanes[i].ruleDelta.begin(), lanes[i].ruleDelta.end(), 0.0);
        kernels::PassDown(*actionArcs, to[i], down[i]);
      }
    }
    for (int i = 0; i < done; ++i)
      kernels::SigmoidSlopes(down[i], from[i], numRules);
    if (actionColumns)
      kernels::AddColumnGradients(actionStride, numRules, actionCols.g.data(), done, to, from);
    else
      kernels::AddGradients(*actionArcs, done, to, from);
    for (int i = 0; i < done; ++i) {
      to[i] = lanes[i].ruleDelta.data();
      from[i] = lanes[i].degrees.data();
    }
    if (ruleColumns)
      kernels::AddColumnGradients(ruleStride, numCond, ruleCols.g.data(), done, to, from);
    else
      kernels::AddGradients(*ruleArcs, done, to, from);
    if (done < n) {
      // The rows after the failed one were read ahead; the general step has not.
      for (int unread = n - done - 1; unread > 0; --unread)
        rows.table->MoveCursor(-1); // one row per call
      const Lane &lane = lanes[done];
      std::copy(lane.input.begin(), lane.input.begin() + numIn, x);
      std::copy(lane.degrees.begin(), lane.degrees.begin() + numCond, cond);
      std::copy(lane.rule.begin(), lane.rule.end(), rule);
      std::copy(lane.action.begin(), lane.action.end(), action);
      // The outputs before the failed one are its own, the rest the last pattern's.
      if (lastOut != nullptr)
        std::copy(lastOut, lastOut + numOut, out);
      Defuzzify(lane.action.data(), out, bad);
      std::copy(lane.input.begin(), lane.input.end(), rows.input);
      std::copy(lane.target.begin(), lane.target.end(), rows.target);
      ClearStoreDeltas(epoch);
      FailOutput(bad);
    }
  }
}

} // namespace kestrane
