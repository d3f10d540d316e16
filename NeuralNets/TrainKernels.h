#ifndef KESTRANE_NEURALNETS_TRAINKERNELS_H
#define KESTRANE_NEURALNETS_TRAINKERNELS_H

// Plain loops over the weight and flag blocks of the matrix classes the train
// module knows (fully connected, prunable, the two fuzzy matrices). They do
// per arc exactly the operations of the visitors, in an order that gives the
// same bits: sums that depend on the visiting order keep it, arcs that are
// independent of each other are taken in whatever order is fastest.
//
// Skipped arcs are handled by selection, never by multiplying with a zero
// weight (0 * inf is NaN). Adding +0.0 in place of a skipped arc is exact for
// the neuron sums: they start at +0.0 and so can never be -0.0.

#include "NeuralNets/TBasicConnections.h"

#include <cstddef>

namespace kestrane {
namespace kernels {

// True when every byte of m[0 .. n-1] has all the given bits.
bool AllHave(const unsigned char *m, size_t n, unsigned char bits);

// The forward step of a t x f block stored row by row: for every row k,
// s = 0.0 + w[k][0]*a[0] + w[k][1]*a[1] + ... (in that order, skipping arcs
// whose exists bit is clear when mask is given), then net[k] = net[k] + s.
void AddRowSums(int t, int f, const double *w, const unsigned char *mask, const double *a,
                double *net);

// A weight per arc at base + k * stride (the fuzzy matrices keep their
// centres inside neurons).
struct Strided {
  char *base = nullptr;
  size_t stride = sizeof(double);
  double &operator[](int k) const { return *reinterpret_cast<double *>(base + k * stride); }
};

// One real matrix of the trained network with its twins in the gradient and
// change stores, as the train module sees it during an epoch.
struct ArcBlock {
  enum Kind {
    kGeneric,   // any other class, or twins that do not match: use the visitors
    kRows,      // TConnectedConnections / TPrunedConnections: contiguous rows
    kListed     // TToConditionConnections / TToOutputConnections: one arc per flag
  };
  // What the gradient store holds for this matrix.
  enum GradState {
    kUnknown,   // anything; zeroing must be done
    kZero,      // every weight that zeroing resets is +0.0
    kPendingZero, // logically zeroed; the next backward pass overwrites instead of adding
    kWritten    // gradients collected since the last zeroing
  };

  Kind kind = kGeneric;
  GradState state = kUnknown;
  TBasicConnections *conn = nullptr;   // in the trained network
  TBasicConnections *grad = nullptr;   // twin in the gradient store
  TBasicConnections *change = nullptr; // twin in the change store

  // kRows: t rows of f arcs.
  int rows = 0, cols = 0;
  double *w = nullptr, *g = nullptr, *d = nullptr;
  const unsigned char *mask = nullptr;     // the network's flags; nullptr: every arc selected
  const unsigned char *gradMask = nullptr; // the store's flags; nullptr: zeroing resets every arc
  // The store's flags equal the network's, so the arcs a backward pass writes
  // are exactly the arcs zeroing resets: zeroing may be folded into it.
  bool foldZero = false;

  // The backward pass has already taken this pattern's step (see StepAfterBackprop).
  bool stepped = false;

  // The last update, with idleRate and idleMomentum, found the gradients
  // zeroed (kZero) and changed no bit. Nothing has written the block since
  // (Mark clears this), so the same update would again change nothing: the
  // fuzzy centres, whose gradients are never collected, skip their steps.
  bool idle = false;
  double idleRate = 0, idleMomentum = 0;
  void Mark(GradState s) {
    state = s;
    idle = false;
  }

  // kListed: arcs 0 .. n-1, selected by flags.
  int n = 0;
  const unsigned char *flags = nullptr;
  Strided lw, lg, ld;
};

// Classifies conn and its twins; kGeneric unless all three are of one known
// class and of the same shape as the layers.
ArcBlock Describe(TBasicConnections *conn, TBasicConnections *grad, TBasicConnections *change);

// Zeroes the gradient-store twin as its Randomize(0, 0) does.
void ZeroGradient(ArcBlock &b);

// The step of the weights, to be taken right after an arc's gradient is known.
// The step of an arc reads only that arc's weight, gradient and change, and
// the backward pass reads a weight before it changes it, so on-line training
// (without penalty terms between the two) may fold the step into the
// backward pass of the matrix: one sweep over the block instead of two.
struct StepAfterBackprop {
  bool on = false;
  double rate = 0, momentum = 0;
  // With on, false when nothing reads this pattern's gradients after the
  // step (a later fresh sweep overwrites them): they need not be stored.
  bool keepGradient = true;
};

// The error-and-gradient visit of every selected (existing and trainable) arc
// of a kRows block, to-row major: dFrom[j] += w*dTo[i]; g += dTo[i]*y[j]. With
// fresh, g = 0.0 + dTo[i]*y[j] (the zeroing folded in). With step.on, each
// arc then takes its step as Step / MomentumStep would. dFrom may be nullptr
// when nothing reads the from-layer's deltas: the error is not passed down.
void Backprop(const ArcBlock &b, const double *dTo, double *dFrom, const double *y, bool fresh,
              const StepAfterBackprop &step);

// The update of every selected arc: w -= rate*g, or with momentum
// d = -rate*g + momentum*d; w += d. True when some weight or change now has
// other bits than before.
bool Step(const ArcBlock &b, double rate);
bool MomentumStep(const ArcBlock &b, double rate, double momentum);

} // namespace kernels
} // namespace kestrane

#endif
