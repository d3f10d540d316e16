#include "NeuralNets/FastEpoch.h"

#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"

#include <utility>

namespace kestrane {

using kernels::ArcBlock;

void TFastEpoch::AddListedClasses(const std::vector<kernels::ListedClass> &classes) {
  listed.insert(listed.end(), classes.begin(), classes.end());
}

TFastEpoch::~TFastEpoch() = default;

void TFastEpoch::SetPatternLoop(std::unique_ptr<TPatternLoop> patternLoop) {
  loop = std::move(patternLoop);
}

int TFastEpoch::RunPatterns(const TPatternLoop::Rows &rows, int count) {
  // On-line epochs with penalty terms read the gradients between the
  // backward pass and the step; the loops know only the folded step.
  if (!active || loop == nullptr || count <= 0 || (!hold && !fold.on))
    return 0;
  return loop->Run(*this, rows, count);
}

void TFastEpoch::Begin(TBasicNetwork &net, TBasicNetwork &grads, TBasicNetwork &chgs,
                       const TKQstructure *epochRecord, const StepSettings &settings) {
  const int n = net.numLayers;
  if (grads.numLayers != n || chgs.numLayers != n)
    return;
  blocks.clear();
  blockOf.assign(static_cast<size_t>(n) * n, -1);
  for (int f = 0; f < n; ++f)
    for (int t = 0; t < n; ++t) {
      TBasicConnections *conn = net.priv_conns_index[t][f];
      TBasicConnections *grad = grads.priv_conns_index[t][f];
      TBasicConnections *change = chgs.priv_conns_index[t][f];
      // Iterate2/Iterate3 and the store's Randomize see these cells; a store
      // that no longer mirrors the network takes the general path.
      if (conn->IsConnected() != grad->IsConnected() ||
          conn->IsConnected() != change->IsConnected())
        return;
      if (!conn->IsConnected())
        continue;
      blockOf[static_cast<size_t>(t) * n + f] = static_cast<int>(blocks.size());
      blocks.push_back(kernels::Describe(conn, grad, change, listed));
    }
  anyGeneric = false;
  for (const ArcBlock &b : blocks)
    anyGeneric = anyGeneric || b.kind == ArcBlock::kGeneric;
  // The store's and the network's layers keep their sizes through the epoch,
  // so their value arrays stay where they are.
  into.assign(static_cast<size_t>(n), {});
  for (int t = 0; t < n; ++t)
    for (int f = t - 1; f >= 0; --f) {
      const int b = blockOf[static_cast<size_t>(t) * n + f];
      if (b >= 0)
        into[static_cast<size_t>(t)].push_back(
            {b, f, grads.layers[f]->activations.data(), net.layers[f]->activations.data()});
    }
  network = &net;
  gradients = &grads;
  changes = &chgs;
  numLayers = n;
  record = epochRecord;
  step = settings;
  lowerDeltasZero = false;
  active = true;
}

void TFastEpoch::End() {
  if (!active)
    return;
  for (ArcBlock &b : blocks)
    Settle(b);
  active = false;
  lowerDeltasZero = false;
  record = nullptr;
  fold = kernels::StepAfterBackprop();
  scratchDead = false;
  hold = false;
}

void TFastEpoch::FoldStepIntoBackprop() {
  if (!active || !step.known)
    return;
  fold.on = true;
  fold.rate = step.rate;
  fold.momentum = step.momentum;
}

void TFastEpoch::StepBlocks(double rate, double momentum, TIterateObj2 *plain,
                            TIterateObj3 *withMomentum) {
  // The blocks are in the order of the general loop.
  for (ArcBlock &b : blocks) {
    if (b.stepped) { // folded into the backward pass, with these settings
      b.stepped = false;
      continue;
    }
    // An idle block is zeroed, holds nothing back and is not generic (Mark
    // clears idle): Settle would leave it as it is and the same step would
    // change no bit, so it is skipped whole.
    if (b.idle && kernels::SameBits(b.idleRate, rate) &&
        kernels::SameBits(b.idleMomentum, momentum))
      continue;
    Settle(b);
    if (b.kind == ArcBlock::kGeneric) {
      if (momentum != 0)
        b.conn->Iterate3(*withMomentum, gradients, changes, 0);
      else
        b.conn->Iterate2(*plain, gradients, 0);
      continue;
    }
    const bool zero = b.state == ArcBlock::kZero;
    const bool changed =
        momentum != 0 ? kernels::MomentumStep(b, rate, momentum) : kernels::Step(b, rate);
    b.idle = zero && !changed;
    b.idleRate = rate;
    b.idleMomentum = momentum;
  }
}

void TFastEpoch::BeforeGradientVisit() {
  if (!active)
    return;
  for (ArcBlock &b : blocks) {
    Settle(b);
    b.Mark(ArcBlock::kWritten);
  }
}

} // namespace kestrane
