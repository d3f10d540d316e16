#ifndef KESTRANE_NEURALNETS_PATTERNLOOP_H
#define KESTRANE_NEURALNETS_PATTERNLOOP_H

// A network class's own loop over the patterns of a fast epoch: the whole
// pattern step (forward pass, error, backward pass, step) for one known
// layout, without a virtual call per layer or per matrix. A module hands one
// to its TFastEpoch when it declares its step (see TFastEpoch::SetPatternLoop).

namespace kestrane {

class Data;
class TErrorObj;
class TFastEpoch;

class TPatternLoop {
public:
  virtual ~TPatternLoop() = default;

  // The row source and buffers of the epoch, as the general loop uses them.
  struct Rows {
    Data *table;
    TErrorObj *measure;
    double *input, *target;
  };
  // Runs the next `count` patterns of the epoch, none its first or last,
  // each leaving the weights, changes, held gradients, measure and table
  // cursor with the bits the general step gives, and returns count; returns
  // 0, having changed nothing, when the network or the epoch is not one it
  // knows. It need not keep the scratch the general step leaves behind for
  // a pattern (activations, deltas, the gradients of a folded step): the
  // epoch's last pattern rewrites it. A pattern whose step the general path
  // would abort must fail here the same way, leaving what it leaves.
  virtual int Run(TFastEpoch &epoch, const Rows &rows, int count) = 0;
};

} // namespace kestrane

#endif
