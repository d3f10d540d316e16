#ifndef KESTRANE_VEMO_VEMOFLATRECALL_H
#define KESTRANE_VEMO_VEMOFLATRECALL_H

// TVemo's forward pass for the layout TVemo builds, as flat loops over up to
// four rows at once: input copy, fuzzification, the rule and action sums with
// their sigmoids, centre of gravity. Each value is the one the layer-by-layer
// recall gives, to the bit (the same kernels as the training pattern loop);
// a network laid out otherwise is declined and takes the general recall.
//
// Unlike the general recall it leaves the network's layers alone, and it
// does not report an output outside [0, 1]: it stops before that row, which
// the caller then recalls the general way to have it fail as it always has.

#include "Vemo/PatternKernels.h"

#include <vector>

namespace kestrane {

class TVemo;

class TVemoFlatRecall {
public:
  static constexpr int kLanes = 4;

  // Checks the network's layout and takes a copy of what the forward pass
  // reads; false: a layout it does not know (nothing to recall with). The
  // network must not change while this recalls for it.
  bool Plan(TVemo &network);

  // Recalls n <= kLanes rows (inputs[p]: at least the network's inputs;
  // outputs[p]: its outputs) and returns how many come before the first
  // whose output leaves [0, 1] (n when none does); that one's outputs are
  // not written.
  int Recall(int n, const double *const inputs[], double *const outputs[]);

private:
  // A weight matrix between two sigmoid-fed layers: by columns when every
  // arc exists (four rows' sums per instruction), else by rows with the
  // exists flags.
  struct Matrix {
    int rows = 0, cols = 0, stride = 0;
    bool columns = false;
    std::vector<double> w; // by columns (stride per column) or by rows
    std::vector<unsigned char> exists;
    // Sums from +0.0 for n rows' activations a of the layer below.
    void Sums(int n, const double *const a[], double *const sums[]) const;
  };
  bool Take(Matrix &m, class TBasicConnections &matrix, int rows, int cols);

  int numIn = 0, numCond = 0, numRules = 0, numActions = 0, numOut = 0;
  kernels::Triangles triangles;
  std::vector<int> counts;
  std::vector<double> centres;
  kernels::ActionGroups groups{};
  Matrix ruleMatrix, actionMatrix;
  // Per lane: the input, the condition degrees, the rule and action sums
  // and activations; the outputs of all lanes.
  std::vector<double> x[kLanes], degrees[kLanes], ruleSum[kLanes], rule[kLanes], actionSum[kLanes],
      action[kLanes];
  std::vector<double> laneY; // [output * 4 + lane]
};

} // namespace kestrane

#endif
