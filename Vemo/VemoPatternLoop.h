#ifndef KESTRANE_VEMO_VEMOPATTERNLOOP_H
#define KESTRANE_VEMO_VEMOPATTERNLOOP_H

// TVemoBP's pattern step for the layout TVemo builds, as flat loops: input
// copy, fuzzification, the rule and action sums with their sigmoids, centre
// of gravity, the desired action degrees, and the backward pass with the step
// (on-line) or the gradients (batch) of the two trainable matrices. It
// declines any other layout, which then takes the general step.
//
// A fully connected matrix is held by columns for the run (ColumnKernels.h):
// a layer's sums then take four rows per instruction, and on-line the rule
// matrix's step adds the next pattern's rule sums with the weights it writes.
// A batch epoch leaves the weights alone, so its patterns go four at a time,
// each lane one pattern; every arc still adds the patterns in their order.

#include "NeuralNets/PatternLoop.h"
#include "Vemo/PatternKernels.h"

#include <vector>

namespace kestrane {

class TConditionLayer;
namespace kernels {
struct ArcBlock;
}

class TVemoPatternLoop : public TPatternLoop {
public:
  int Run(TFastEpoch &epoch, const Rows &rows, int count) override;

private:
  // A matrix's weights, and its changes (on-line) or gradients (batch), by
  // columns (see ColumnKernels.h). Return writes back what the run changes.
  struct Columns {
    int rows = 0, cols = 0, stride = 0;
    std::vector<double> w, d, g;
    void Hold(const kernels::ArcBlock &b, bool changes, bool gradients);
    void Return(kernels::ArcBlock &b) const;
  };
  // One pattern's values on their way through the network.
  struct Lane {
    std::vector<double> input, target, degrees, ruleSum, rule, ruleDelta, actionSum, action,
        actionDelta, out;
    void Size(int condStride, int ruleStride, int numRules, int actionStride, int numActions,
              int numOut);
  };

  // Checks the network, its matrices and the stores' state and sets the
  // fields below; false: decline, nothing changed.
  bool Plan(TFastEpoch &epoch);
  // Brings the two matrices' gradients where the general step would have
  // them before the next pattern.
  void PrepareBlocks(bool batch);
  void RunOnline(TFastEpoch &epoch, const Rows &rows, int count);
  void RunBatch(TFastEpoch &epoch, const Rows &rows, int count);

  // A layer's sums, from +0.0 over `width` slots, for n <= 4 patterns'
  // activations `a` of the layer below: through the matrix held by columns
  // (four patterns in one pass), or else by rows with the given exists flags.
  void LayerSums(const kernels::ArcBlock &arcs, const Columns *held, const unsigned char *exists,
                 int n, const double *const a[], double *const sums[], int width);
  // The input (into the network's input layer) and the condition degrees.
  void Fuzzify(const double *input, double *degreesOut);
  // A sigmoid layer's activations from its matrix's sums.
  static void Activate(const double *sums, double *a, int n);
  // Centre of gravity; false, with the value, when an output leaves [0, 1]
  // (the outputs before it are written).
  bool Defuzzify(const double *actions, double *outputs, double &bad);
  // The output layer's own failure.
  [[noreturn]] static void FailOutput(double bad);
  void ActionDeltas(const double *outputs, const double *target, const double *actions,
                    double *delta);
  // The same for the first n lanes; DefuzzifyLanes returns how many lanes
  // come before the first whose output fails (n when none does).
  int DefuzzifyLanes(Lane *lanes, int n, double &bad);
  void ActionDeltasLanes(Lane *lanes, int n);
  // As a failed pattern leaves the gradient store: its deltas cleared.
  static void ClearStoreDeltas(TFastEpoch &epoch);

  int numIn = 0, numCond = 0, numRules = 0, numActions = 0, numOut = 0;
  // The network's activations, where a failed pattern leaves its values.
  double *x = nullptr, *cond = nullptr, *rule = nullptr, *action = nullptr, *out = nullptr;
  TConditionLayer *condition = nullptr;
  kernels::ArcBlock *ruleArcs = nullptr, *actionArcs = nullptr;
  const unsigned char *ruleExists = nullptr, *actionExists = nullptr; // nullptr: every arc
  const double *centres = nullptr; // of the output terms, per action node
  kernels::Triangles triangles;    // the condition neurons' membership functions
  std::vector<int> counts;         // output terms per output
  std::vector<double> outDelta, degrees;
  std::vector<double> laneY;    // [output * 4 + lane]
  kernels::ActionGroups groups; // the output terms, for the four-lane kernels
  // One pattern's outputs side by side, when at most four with as many terms each.
  bool across = false;
  kernels::OutputLanes outLanes;
  Columns ruleCols, actionCols;
  Lane lanePool[4]; // kept from run to run, so that their memory is too
};

} // namespace kestrane

#endif
