#ifndef KESTRANE_NEURALNETS_FASTEPOCH_H
#define KESTRANE_NEURALNETS_FASTEPOCH_H

// The fast path of a training epoch: the train module's steps hand their
// work on the matrices it knows to the kernels (TrainKernels.h) instead of
// the visitors, and skip work nothing reads. Every pattern leaves the network
// and the stores with the bits the visitor loops give; the gradients of the
// epoch's last pattern and all weights come out the same.
//
// A module holds one TFastEpoch; it is active only between Begin and End,
// within one TrainEpoch of a module whose pattern step it knows.

#include "NeuralNets/PatternLoop.h"
#include "NeuralNets/TrainKernels.h"

#include <memory>
#include <typeinfo>
#include <vector>

namespace kestrane {

class TBasicNetwork;
class TIterateObj2;
class TIterateObj3;
class TKQstructure;

class TFastEpoch {
public:
  // The fast epoch reproduces one pattern step (ComputeGradient,
  // BackpropagateDeltas, UpdateWeights, ApplyUpdate as a module class
  // defines them) and serves only objects of exactly the class that declared
  // it: a subclass that overrides a step, or declares nothing, takes the
  // general path.
  void Serve(const std::type_info &moduleClass) { served = &moduleClass; }
  bool Serves(const std::type_info &moduleClass) const {
    return served != nullptr && *served == moduleClass;
  }
  // The served step reads the deltas of no layer below this one.
  void ReadsNoDeltasBelow(int layer) { lowestReadDeltas = layer; }
  // Matrix classes outside the core whose arcs the kernels may step.
  void AddListedClasses(const std::vector<kernels::ListedClass> &classes);
  // The served class's own loop over the patterns (see TPatternLoop).
  void SetPatternLoop(std::unique_ptr<TPatternLoop> patternLoop);
  ~TFastEpoch();

  // What the epoch's record asks of the step; known is false when reading
  // it failed (the step then reads it again and rejects it).
  struct StepSettings {
    bool known = false;
    double rate = 0, momentum = 0;
  };

  // Plans the epoch; stays inactive (general path) when the stores do not
  // mirror the network's matrices.
  void Begin(TBasicNetwork &network, TBasicNetwork &gradients, TBasicNetwork &changes,
             const TKQstructure *record, const StepSettings &step);
  // Leaves the gradient store exactly as the general path does.
  void End();
  bool Active() const { return active; }

  // The record's step settings, read once for the epoch; false when they
  // must be read (and rejected) where the step happens.
  bool CachedStepSettings(const TKQstructure *asked, double &rate, double &momentum) const {
    if (!active || !step.known || asked != record)
      return false;
    rate = step.rate;
    momentum = step.momentum;
    return true;
  }
  // On-line training without penalty terms: nothing reads the gradients
  // between the backward pass and the step, so the step joins the pass.
  void FoldStepIntoBackprop();
  // Batch training: the weights stay put until the epoch's step, so the
  // gradients of the patterns may be added a few patterns at a time.
  void HoldGradients() { hold = active; }
  // Before each pattern; `last`: the epoch's last, whose deltas and
  // gradients stay in the stores for callers to see.
  void StartPattern(bool last) {
    scratchDead = active && !last;
    fold.keepGradient = !scratchDead;
  }
  void PatternsDone() { scratchDead = false; }
  // The first layer whose deltas the pattern's clearing must zero: the
  // deltas below the lowest read layer are all +0.0 already when nothing
  // has written them since the last full clearing and this pattern won't.
  int DeltasToClearFrom() const { return scratchDead && lowerDeltasZero ? lowestReadDeltas : 0; }
  void DeltasCleared() { lowerDeltasZero = active; }

  // Each returns false when the caller must do the work with the visitors.
  // Zeroes the gradient store; with fold, a matrix whose next backward pass
  // overwrites every arc zeroing would reset is only marked.
  bool ZeroGradients(bool fold);
  // The real matrices into layer t from the layers below it, nearest first:
  // the order of the general backward loop. Valid while active.
  struct Into {
    int block, f;
    double *down;    // deltas of layer f in the gradient store
    const double *y; // activations of layer f in the network
  };
  const std::vector<Into> &IntoLayer(int t) const { return into[static_cast<size_t>(t)]; }
  // The backward pass through one of them; false: do it with the visitors.
  bool Backprop(const Into &m, const double *delta);
  // The step of every matrix (generic ones through the given visitors).
  bool Update(double rate, double momentum, TIterateObj2 &plain, TIterateObj3 &withMomentum) {
    if (!active)
      return false;
    StepBlocks(rate, momentum, &plain, &withMomentum);
    return true;
  }
  // The same when no matrix needs the visitors; false: call Update.
  bool UpdateWithoutVisitors(double rate, double momentum) {
    if (!active || anyGeneric)
      return false;
    StepBlocks(rate, momentum, nullptr, nullptr);
    return true;
  }
  // The visitors are about to add to every gradient.
  void BeforeGradientVisit();

  // Hands the next `count` patterns, none the epoch's first or last, to the
  // pattern loop; returns how many it ran (0 or count).
  int RunPatterns(const TPatternLoop::Rows &rows, int count);

  // For a pattern loop, while active: the plan of matrix [t][f] (nullptr
  // when it is not a real matrix), the stores, and how the epoch steps.
  kernels::ArcBlock *Block(int t, int f) {
    const int b = blockOf[static_cast<size_t>(t) * numLayers + f];
    return b < 0 ? nullptr : &blocks[static_cast<size_t>(b)];
  }
  int NumBlocks() const { return static_cast<int>(blocks.size()); }
  TBasicNetwork &Network() const { return *network; }
  TBasicNetwork &Gradients() const { return *gradients; }
  // Batch: gradients are held for the epoch's step; on-line: the step the
  // backward pass takes (off with penalty terms).
  bool Holding() const { return hold; }
  const kernels::StepAfterBackprop &Fold() const { return fold; }
  // Carries out held additions and a marked zeroing before the gradients are read.
  static void Settle(kernels::ArcBlock &b) {
    if (b.held > 0)
      kernels::AddHeldGradients(b);
    if (b.state == kernels::ArcBlock::kPendingZero)
      kernels::ZeroGradient(b);
  }

private:
  void StepBlocks(double rate, double momentum, TIterateObj2 *plain, TIterateObj3 *withMomentum);

  const std::type_info *served = nullptr;
  int lowestReadDeltas = 0;
  std::vector<kernels::ListedClass> listed;

  bool active = false;
  TBasicNetwork *network = nullptr, *gradients = nullptr, *changes = nullptr;
  int numLayers = 0;
  std::vector<kernels::ArcBlock> blocks; // real matrices, from-layer outer
  std::vector<int> blockOf;              // [t * numLayers + f]: index in blocks, or -1
  std::unique_ptr<TPatternLoop> loop;
  std::vector<std::vector<Into>> into; // [t]: see IntoLayer
  bool anyGeneric = false;
  const TKQstructure *record = nullptr;
  StepSettings step;
  kernels::StepAfterBackprop fold;
  // The current pattern is not the epoch's last: the next one clears its
  // deltas and overwrites its gradients before anything reads them.
  bool scratchDead = false;
  bool lowerDeltasZero = false; // see DeltasToClearFrom
  bool hold = false;
};

// Inline: both run for every pattern.

inline bool TFastEpoch::ZeroGradients(bool withFold) {
  if (!active)
    return false;
  for (kernels::ArcBlock &b : blocks) {
    if (b.state == kernels::ArcBlock::kZero || b.state == kernels::ArcBlock::kPendingZero)
      continue;
    if (b.state == kernels::ArcBlock::kWritten && withFold && b.foldZero &&
        b.kind == kernels::ArcBlock::kRows)
      b.Mark(kernels::ArcBlock::kPendingZero);
    else
      kernels::ZeroGradient(b);
  }
  return true;
}

inline bool TFastEpoch::Backprop(const Into &m, const double *delta) {
  kernels::ArcBlock &b = blocks[static_cast<size_t>(m.block)];
  double *down = scratchDead && m.f < lowestReadDeltas ? nullptr : m.down;
  if (m.f < lowestReadDeltas)
    lowerDeltasZero = lowerDeltasZero && b.kind == kernels::ArcBlock::kRows && down == nullptr;
  if (b.kind != kernels::ArcBlock::kRows) {
    Settle(b);
    b.Mark(kernels::ArcBlock::kWritten); // by the visitors, next
    return false;
  }
  const bool fresh = b.state == kernels::ArcBlock::kPendingZero;
  const double *y = m.y;
  // The epoch's last pattern leaves its gradients complete for callers to see.
  if (hold && scratchDead && !fresh && !fold.on) {
    kernels::HoldGradient(b, delta, down, y);
    b.Mark(kernels::ArcBlock::kWritten);
    return true;
  }
  if (b.held > 0)
    kernels::AddHeldGradients(b);
  kernels::Backprop(b, delta, down, y, fresh, fold);
  b.stepped = fold.on;
  // Gradients the fold did not store are dead: the next pattern's zeroing
  // comes before any read.
  b.Mark(fresh && fold.on && !fold.keepGradient ? kernels::ArcBlock::kPendingZero
                                                : kernels::ArcBlock::kWritten);
  return true;
}

} // namespace kestrane

#endif
