#include "NeuralNets/TrainKernels.h"

#include "NeuralNets/KernelTargets.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

#include <algorithm>
#include <typeinfo>

namespace kestrane {
namespace kernels {

namespace {

constexpr unsigned char kSelected = FMaskAll; // what selector 0 asks of an arc

KESTRANE_KERNEL_INLINE bool Selected(unsigned char flags) {
  return (flags & kSelected) == kSelected;
}

enum class Then { kNothing, kStep, kMomentum };

// What one backward sweep does per arc besides g = (Fresh ? 0.0 : g) + dTo*y:
// Down passes the error to the from-layer, Keep stores the gradient, Step
// folds the arc's update in.
template <bool Fresh, bool Down, bool Keep, Then Step>
struct Sweep {
  KESTRANE_KERNEL_INLINE static void Arc(int j, double *__restrict w, const double di,
                                         double *__restrict dFrom, const double *__restrict y,
                                         double *__restrict g, double *__restrict d, double rate,
                                         double momentum) {
    const double wj = w[j];
    if (Down)
      dFrom[j] = dFrom[j] + wj * di;
    const double gj = (Fresh ? 0.0 : g[j]) + di * y[j];
    if (Keep)
      g[j] = gj;
    if (Step == Then::kStep) {
      w[j] = wj - rate * gj;
    } else if (Step == Then::kMomentum) {
      const double dj = -rate * gj + momentum * d[j];
      d[j] = dj;
      w[j] = wj + dj;
    }
  }

  KESTRANE_KERNEL_INLINE static void Row(int f, double *__restrict w, const double di,
                                         double *__restrict dFrom, const double *__restrict y,
                                         double *__restrict g, double *__restrict d, double rate,
                                         double momentum) {
    for (int j = 0; j < f; ++j)
      Arc(j, w, di, dFrom, y, g, d, rate, momentum);
  }

  KESTRANE_KERNEL_INLINE static void MaskedRow(int f, double *w, const unsigned char *m,
                                               const double di, double *dFrom, const double *y,
                                               double *g, double *d, double rate, double momentum) {
    for (int j = 0; j < f; ++j)
      if (Selected(m[j]))
        Arc(j, w, di, dFrom, y, g, d, rate, momentum);
  }

  KESTRANE_KERNEL_INLINE static void Rows(const ArcBlock &b, const double *dTo, double *dFrom,
                                          const double *y, double rate, double momentum) {
    const int f = b.cols;
    for (int i = 0; i < b.rows; ++i) {
      const size_t at = static_cast<size_t>(i) * static_cast<size_t>(f);
      if (b.mask == nullptr || AllHave(b.mask + at, static_cast<size_t>(f), kSelected))
        Row(f, b.w + at, dTo[i], dFrom, y, b.g + at, b.d + at, rate, momentum);
      else
        MaskedRow(f, b.w + at, b.mask + at, dTo[i], dFrom, y, b.g + at, b.d + at, rate, momentum);
    }
  }
};

template <bool Fresh, bool Down, bool Keep>
KESTRANE_KERNEL_INLINE void SweepWithStep(const ArcBlock &b, const double *dTo, double *dFrom,
                                          const double *y, const StepAfterBackprop &step) {
  if (!step.on)
    Sweep<Fresh, Down, Keep, Then::kNothing>::Rows(b, dTo, dFrom, y, 0, 0);
  else if (step.momentum != 0)
    Sweep<Fresh, Down, Keep, Then::kMomentum>::Rows(b, dTo, dFrom, y, step.rate, step.momentum);
  else
    Sweep<Fresh, Down, Keep, Then::kStep>::Rows(b, dTo, dFrom, y, step.rate, 0);
}

template <bool Fresh, bool Down>
KESTRANE_KERNEL_INLINE void SweepKeeping(const ArcBlock &b, const double *dTo, double *dFrom,
                                         const double *y, const StepAfterBackprop &step) {
  // A gradient may be dropped only when the fold takes the step from it
  // and a fresh sweep overwrites it next (see Backprop).
  if (Fresh && step.on && !step.keepGradient)
    SweepWithStep<Fresh, Down, false>(b, dTo, dFrom, y, step);
  else
    SweepWithStep<Fresh, Down, true>(b, dTo, dFrom, y, step);
}

template <bool Fresh>
KESTRANE_KERNEL_INLINE void SweepDown(const ArcBlock &b, const double *dTo, double *dFrom,
                                      const double *y, const StepAfterBackprop &step) {
  if (dFrom != nullptr)
    SweepKeeping<Fresh, true>(b, dTo, dFrom, y, step);
  else
    SweepKeeping<Fresh, false>(b, dTo, dFrom, y, step);
}

// The error passed down the selected arcs, to-row major as in Sweep.
KESTRANE_KERNEL_INLINE void PassDownRows(const ArcBlock &b, const double *dTo,
                                         double *__restrict dFrom) {
  const int f = b.cols;
  for (int i = 0; i < b.rows; ++i) {
    const size_t at = static_cast<size_t>(i) * static_cast<size_t>(f);
    const double *__restrict w = b.w + at;
    const double di = dTo[i];
    if (b.mask == nullptr || AllHave(b.mask + at, static_cast<size_t>(f), kSelected)) {
      for (int j = 0; j < f; ++j)
        dFrom[j] = dFrom[j] + w[j] * di;
    } else {
      for (int j = 0; j < f; ++j)
        if (Selected(b.mask[at + j]))
          dFrom[j] = dFrom[j] + w[j] * di;
    }
  }
}

// P patterns (count when P is 0) added to every selected arc, in the order
// they came: dTo[p] the to-layer's deltas, ys[p] the from-layer's activations.
template <int P>
KESTRANE_KERNEL_INLINE void AddRows(const ArcBlock &b, int count, const double *const *dTo,
                                    const double *const *ys) {
  const int f = b.cols, t = b.rows;
  const int n = P > 0 ? P : count;
  for (int i = 0; i < t; ++i) {
    const size_t at = static_cast<size_t>(i) * static_cast<size_t>(f);
    double *__restrict g = b.g + at;
    double d[ArcBlock::kHeld];
    for (int p = 0; p < n; ++p)
      d[p] = dTo[p][i];
    const bool all = b.mask == nullptr || AllHave(b.mask + at, static_cast<size_t>(f), kSelected);
    if (P > 0 && all) {
      const double *__restrict y0 = ys[0], *__restrict y1 = ys[1], *__restrict y2 = ys[2],
                               *__restrict y3 = ys[3];
      for (int j = 0; j < f; ++j)
        g[j] = (((g[j] + d[0] * y0[j]) + d[1] * y1[j]) + d[2] * y2[j]) + d[3] * y3[j];
    } else {
      for (int j = 0; j < f; ++j)
        if (all || Selected(b.mask[at + j])) {
          double gj = g[j];
          for (int p = 0; p < n; ++p)
            gj = gj + d[p] * ys[p][j];
          g[j] = gj;
        }
    }
  }
}

// The held patterns of a block, as AddRows reads them.
template <int P>
KESTRANE_KERNEL_INLINE void AddHeldRows(const ArcBlock &b, int count) {
  const int n = P > 0 ? P : count;
  const double *dTo[ArcBlock::kHeld], *ys[ArcBlock::kHeld];
  for (int p = 0; p < n; ++p) {
    dTo[p] = b.heldTo.data() + static_cast<size_t>(p) * b.rows;
    ys[p] = b.heldY.data() + static_cast<size_t>(p) * b.cols;
  }
  AddRows<P>(b, count, dTo, ys);
}

// Arcs of a block are independent in the update, so it runs in chunks: a
// chunk whose arcs are all selected takes the straight loop.
constexpr size_t kChunk = 64;

template <class Op>
void ForSelected(const ArcBlock &b, Op op) {
  const size_t n = static_cast<size_t>(b.rows) * static_cast<size_t>(b.cols);
  for (size_t start = 0; start < n; start += kChunk) {
    const size_t end = std::min(n, start + kChunk);
    if (b.mask == nullptr || AllHave(b.mask + start, end - start, kSelected)) {
      for (size_t i = start; i < end; ++i)
        op(i);
    } else {
      for (size_t i = start; i < end; ++i)
        if (Selected(b.mask[i]))
          op(i);
    }
  }
}

template <class M>
bool SameShape(const M &a, const M &b) {
  return a.array_weights.size() == b.array_weights.size() &&
         a.index_weights.size() == b.index_weights.size();
}

// Rows and columns of a matrix stored row by row, if they match its layers
// (and the gradient store's layers, which the backward pass reads).
template <class M>
bool RowsOf(ArcBlock &b, M &c, M &g, M &d) {
  const int t = static_cast<int>(c.index_weights.size());
  if (!SameShape(c, g) || !SameShape(c, d) || t != c.GetNumToNeurons() || t == 0)
    return false;
  const int f = static_cast<int>(c.array_weights.size() / static_cast<size_t>(t));
  if (static_cast<size_t>(f) * t != c.array_weights.size() || f != c.GetNumFromNeurons() ||
      f != g.GetNumFromNeurons() || t != g.GetNumToNeurons())
    return false;
  b.rows = t;
  b.cols = f;
  b.w = c.array_weights.data();
  b.g = g.array_weights.data();
  b.d = d.array_weights.data();
  return true;
}

} // namespace

ArcBlock Describe(TBasicConnections *conn, TBasicConnections *grad, TBasicConnections *change,
                  const std::vector<ListedClass> &listed) {
  ArcBlock b;
  b.conn = conn;
  b.grad = grad;
  b.change = change;
  const std::type_info &type = typeid(*conn);
  if (typeid(*grad) != type || typeid(*change) != type)
    return b;
  if (type == typeid(TConnectedConnections)) {
    auto &c = static_cast<TConnectedConnections &>(*conn);
    if (RowsOf(b, c, static_cast<TConnectedConnections &>(*grad),
               static_cast<TConnectedConnections &>(*change))) {
      b.kind = ArcBlock::kRows;
      b.foldZero = true;
    }
  } else if (type == typeid(TPrunedConnections)) {
    auto &c = static_cast<TPrunedConnections &>(*conn);
    auto &g = static_cast<TPrunedConnections &>(*grad);
    if (RowsOf(b, c, g, static_cast<TPrunedConnections &>(*change)) &&
        c.array_masks.size() == c.array_weights.size() &&
        g.array_masks.size() == g.array_weights.size()) {
      b.kind = ArcBlock::kRows;
      // The flags do not change during an epoch; a block without frozen or
      // removed arcs takes the straight loops without looking at them per row.
      if (!AllHave(c.array_masks.data(), c.array_masks.size(), kSelected))
        b.mask = c.array_masks.data();
      b.gradMask = g.array_masks.data();
      b.foldZero = c.array_masks == g.array_masks;
    }
  } else {
    for (const ListedClass &c : listed)
      if (type == *c.type) {
        if (c.list(*conn, *grad, *change, b))
          b.kind = ArcBlock::kListed;
        break;
      }
  }
  return b;
}

void ZeroGradient(ArcBlock &b) {
  b.held = 0; // zeroing would wipe them out
  if (b.kind == ArcBlock::kRows) {
    const size_t n = static_cast<size_t>(b.rows) * static_cast<size_t>(b.cols);
    if (b.gradMask == nullptr) {
      std::fill(b.g, b.g + n, 0.0);
    } else {
      for (size_t i = 0; i < n; ++i)
        if (b.gradMask[i] & FMaskTrainable)
          b.g[i] = 0.0;
    }
  } else {
    b.grad->Randomize(0, 0);
  }
  b.Mark(ArcBlock::kZero);
}

KESTRANE_WIDE_KERNEL void Backprop(const ArcBlock &b, const double *dTo, double *dFrom,
                                   const double *y, bool fresh, const StepAfterBackprop &step) {
  if (fresh)
    SweepDown<true>(b, dTo, dFrom, y, step);
  else
    SweepDown<false>(b, dTo, dFrom, y, step);
}

KESTRANE_WIDE_KERNEL void HoldGradient(ArcBlock &b, const double *dTo, double *dFrom,
                                       const double *y) {
  static_assert(ArcBlock::kHeld == 4, "AddHeldRows<4> adds four patterns");
  if (dFrom != nullptr)
    PassDownRows(b, dTo, dFrom);
  const size_t t = static_cast<size_t>(b.rows), f = static_cast<size_t>(b.cols);
  if (b.heldTo.size() != ArcBlock::kHeld * t) {
    b.heldTo.resize(ArcBlock::kHeld * t);
    b.heldY.resize(ArcBlock::kHeld * f);
  }
  std::copy(dTo, dTo + t, b.heldTo.begin() + static_cast<ptrdiff_t>(b.held * t));
  std::copy(y, y + f, b.heldY.begin() + static_cast<ptrdiff_t>(b.held * f));
  if (++b.held == ArcBlock::kHeld) {
    AddHeldRows<ArcBlock::kHeld>(b, ArcBlock::kHeld);
    b.held = 0;
  }
}

KESTRANE_WIDE_KERNEL void PassDown(const ArcBlock &b, const double *dTo, double *dFrom) {
  PassDownRows(b, dTo, dFrom);
}

KESTRANE_WIDE_KERNEL void AddGradients(ArcBlock &b, int count, const double *const *dTo,
                                       const double *const *y) {
  if (b.held > 0)
    AddHeldRows<0>(b, b.held);
  b.held = 0;
  if (count == ArcBlock::kHeld)
    AddRows<ArcBlock::kHeld>(b, count, dTo, y);
  else if (count > 0)
    AddRows<0>(b, count, dTo, y);
}

KESTRANE_WIDE_KERNEL void AddHeldGradients(ArcBlock &b) {
  if (b.held > 0)
    AddHeldRows<0>(b, b.held);
  b.held = 0;
}

bool Step(const ArcBlock &b, double rate) {
  bool changed = false;
  if (b.kind == ArcBlock::kListed) {
    for (int k = 0; k < b.n; ++k)
      if (Selected(b.flags[k])) {
        const double w = b.lw[k];
        b.lw[k] = w - rate * b.lg[k];
        changed |= !SameBits(w, b.lw[k]);
      }
    return changed;
  }
  double *__restrict w = b.w;
  const double *__restrict g = b.g;
  ForSelected(b, [&](size_t i) {
    const double old = w[i];
    w[i] = old - rate * g[i];
    changed |= !SameBits(old, w[i]);
  });
  return changed;
}

bool MomentumStep(const ArcBlock &b, double rate, double momentum) {
  bool changed = false;
  if (b.kind == ArcBlock::kListed) {
    for (int k = 0; k < b.n; ++k)
      if (Selected(b.flags[k])) {
        const double w = b.lw[k], d = b.ld[k];
        b.ld[k] = -rate * b.lg[k] + momentum * d;
        b.lw[k] = w + b.ld[k];
        changed |= !SameBits(w, b.lw[k]) || !SameBits(d, b.ld[k]);
      }
    return changed;
  }
  double *__restrict w = b.w;
  const double *__restrict g = b.g;
  double *__restrict d = b.d;
  ForSelected(b, [&](size_t i) {
    const double oldW = w[i], oldD = d[i];
    d[i] = -rate * g[i] + momentum * oldD;
    w[i] = oldW + d[i];
    changed |= !SameBits(oldW, w[i]) || !SameBits(oldD, d[i]);
  });
  return changed;
}

} // namespace kernels
} // namespace kestrane
