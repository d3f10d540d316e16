#include "NeuralNets/FastEpoch.h"

#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kestrane {

using kernels::ArcBlock;

void TFastEpoch::AddListedClasses(const std::vector<kernels::ListedClass> &classes) {
  listed.insert(listed.end(), classes.begin(), classes.end());
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
  network = &net;
  gradients = &grads;
  changes = &chgs;
  numLayers = n;
  record = epochRecord;
  step = settings;
  active = true;
}

void TFastEpoch::End() {
  if (!active)
    return;
  for (ArcBlock &b : blocks)
    Settle(b);
  active = false;
  record = nullptr;
  fold = kernels::StepAfterBackprop();
  scratchDead = false;
  hold = false;
}

bool TFastEpoch::CachedStepSettings(const TKQstructure *asked, double &rate,
                                    double &momentum) const {
  if (!active || !step.known || asked != record)
    return false;
  rate = step.rate;
  momentum = step.momentum;
  return true;
}

void TFastEpoch::FoldStepIntoBackprop() {
  if (!active || !step.known)
    return;
  fold.on = true;
  fold.rate = step.rate;
  fold.momentum = step.momentum;
}

void TFastEpoch::StartPattern(bool last) {
  scratchDead = active && !last;
  fold.keepGradient = !scratchDead;
}

void TFastEpoch::Settle(ArcBlock &b) {
  kernels::AddHeldGradients(b);
  if (b.state == ArcBlock::kPendingZero)
    kernels::ZeroGradient(b);
}

bool TFastEpoch::ZeroGradients(bool withFold) {
  if (!active)
    return false;
  for (ArcBlock &b : blocks) {
    if (b.state == ArcBlock::kZero || b.state == ArcBlock::kPendingZero)
      continue;
    if (b.state == ArcBlock::kWritten && withFold && b.foldZero && b.kind == ArcBlock::kRows)
      b.Mark(ArcBlock::kPendingZero);
    else
      kernels::ZeroGradient(b);
  }
  return true;
}

bool TFastEpoch::Backprop(int t, int f, const double *delta) {
  if (!active)
    return false;
  ArcBlock &b = BlockOf(t, f);
  if (b.kind != ArcBlock::kRows) {
    Settle(b);
    b.Mark(ArcBlock::kWritten); // by the visitors, next
    return false;
  }
  const bool fresh = b.state == ArcBlock::kPendingZero;
  double *down =
      scratchDead && f < lowestReadDeltas ? nullptr : gradients->layers[f]->activations.data();
  const double *y = network->layers[f]->activations.data();
  // The epoch's last pattern leaves its gradients complete for callers to see.
  if (hold && scratchDead && !fresh && !fold.on) {
    kernels::HoldGradient(b, delta, down, y);
    b.Mark(ArcBlock::kWritten);
    return true;
  }
  kernels::AddHeldGradients(b);
  kernels::Backprop(b, delta, down, y, fresh, fold);
  b.stepped = fold.on;
  // Gradients the fold did not store are dead: the next pattern's zeroing
  // comes before any read.
  b.Mark(fresh && fold.on && !fold.keepGradient ? ArcBlock::kPendingZero : ArcBlock::kWritten);
  return true;
}

bool TFastEpoch::Update(double rate, double momentum, TIterateObj2 &plain,
                        TIterateObj3 &withMomentum) {
  if (!active)
    return false;
  // The blocks are in the order of the general loop.
  for (ArcBlock &b : blocks) {
    if (b.stepped) { // folded into the backward pass, with these settings
      b.stepped = false;
      continue;
    }
    Settle(b);
    if (b.kind == ArcBlock::kGeneric) {
      if (momentum != 0)
        b.conn->Iterate3(withMomentum, gradients, changes, 0);
      else
        b.conn->Iterate2(plain, gradients, 0);
      continue;
    }
    const bool zero = b.state == ArcBlock::kZero;
    if (zero && b.idle && kernels::SameBits(b.idleRate, rate) &&
        kernels::SameBits(b.idleMomentum, momentum))
      continue;
    const bool changed =
        momentum != 0 ? kernels::MomentumStep(b, rate, momentum) : kernels::Step(b, rate);
    b.idle = zero && !changed;
    b.idleRate = rate;
    b.idleMomentum = momentum;
  }
  return true;
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
