#ifndef KESTRANE_NEURALNETS_TRAINKERNELS_H
#define KESTRANE_NEURALNETS_TRAINKERNELS_H

// Plain loops over the weight and flag blocks of the matrices the fast epoch
// knows: the row-stored classes of the core, and classes whose arcs a plug-in
// lists for it (see ListArcsFn). They do per arc exactly the operations of
// the visitors, in an order that gives the same bits: sums that depend on the
// visiting order keep it, arcs that are independent of each other are taken
// in whatever order is fastest. Skipped arcs are handled by selection, never
// by multiplying with a zero weight (0 * inf is NaN).

#include "NeuralNets/RowSums.h"
#include "NeuralNets/TBasicConnections.h"

#include <cstddef>
#include <cstring>
#include <typeinfo>
#include <vector>

namespace kestrane {
namespace kernels {

// Equal to the last bit (+0.0 and -0.0 differ, a NaN equals itself).
inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A weight per arc at base + k * stride (a matrix may keep its weights
// inside neurons).
struct Strided {
  char *base = nullptr;
  size_t stride = sizeof(double);
  double &operator[](int k) const { return *reinterpret_cast<double *>(base + k * stride); }
};

// One real matrix of the trained network with its twins in the gradient and
// change stores, as the train module sees it during an epoch.
struct ArcBlock {
  enum Kind {
    kGeneric, // any other class, or twins that do not match: use the visitors
    kRows,    // TConnectedConnections / TPrunedConnections: contiguous rows
    kListed   // a class listed by a ListArcsFn: one arc per flag
  };
  // What the gradient store holds for this matrix.
  enum GradState {
    kUnknown,     // anything; zeroing must be done
    kZero,        // every weight that zeroing resets is +0.0
    kPendingZero, // logically zeroed; the next backward pass overwrites instead of adding
    kWritten      // gradients collected since the last zeroing
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

  // Batch epochs: patterns whose gradients wait to be added kHeld at a time,
  // so that each gradient is loaded and stored once for them (HoldGradient).
  static constexpr int kHeld = 4;
  int held = 0;
  std::vector<double> heldTo, heldY; // kHeld x rows deltas, kHeld x cols activations

  // kListed: arcs 0 .. n-1, selected by flags.
  int n = 0;
  const unsigned char *flags = nullptr;
  Strided lw, lg, ld;
};

// How a matrix class outside the core shows its arcs to the fast epoch: for
// a matrix and its twins in the gradient and change stores (all three of that
// class), set b.n, b.flags and the strided weights b.lw, b.lg, b.ld, and
// return true; return false to leave the matrix to the visitors. The arcs
// must be those, and in the order, that Iterate2 and Iterate3 visit with mask
// 0 (selected by SelectsArc). The fast epoch zeroes and steps such a block;
// the backward pass through it stays with the visitors.
using ListArcsFn = bool (*)(TBasicConnections &conn, TBasicConnections &grad,
                            TBasicConnections &change, ArcBlock &b);

struct ListedClass {
  const std::type_info *type;
  ListArcsFn list;
};

// Classifies conn and its twins; kGeneric unless all three are of one known
// class (the core's row-stored classes or one of `listed`) and of the same
// shape as the layers.
ArcBlock Describe(TBasicConnections *conn, TBasicConnections *grad, TBasicConnections *change,
                  const std::vector<ListedClass> &listed);

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

// The batch form of Backprop (not fresh, no step folded in): the error is
// passed down now (dFrom may be nullptr), the gradients of the pattern are
// held and added kHeld patterns at a time. Within a batch epoch the weights
// do not change, and each arc still adds its patterns in their order, so the
// bits are those of one Backprop per pattern once AddHeldGradients has run.
void HoldGradient(ArcBlock &b, const double *dTo, double *dFrom, const double *y);
// Adds the held patterns' gradients, oldest first: g = (g + d0*y0) + d1*y1 ...
void AddHeldGradients(ArcBlock &b);
// The two halves of HoldGradient for callers that keep the patterns' values
// themselves: the error passed down (dFrom += w * dTo over the selected
// arcs), and the gradients of `count` <= kHeld patterns added in their
// order, after any held ones.
void PassDown(const ArcBlock &b, const double *dTo, double *dFrom);
void AddGradients(ArcBlock &b, int count, const double *const *dTo, const double *const *y);

// The update of every selected arc: w -= rate*g, or with momentum
// d = -rate*g + momentum*d; w += d. True when some weight or change now has
// other bits than before.
bool Step(const ArcBlock &b, double rate);
bool MomentumStep(const ArcBlock &b, double rate, double momentum);

} // namespace kernels
} // namespace kestrane

#endif
