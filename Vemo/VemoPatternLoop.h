#ifndef KESTRANE_VEMO_VEMOPATTERNLOOP_H
#define KESTRANE_VEMO_VEMOPATTERNLOOP_H

// TVemoBP's pattern step for the layout TVemo builds, as flat loops: input
// copy, fuzzification, the rule and action row sums with their sigmoids,
// centre of gravity, the desired action degrees, and the backward pass with
// the step (on-line) or the held gradients (batch) of the two trainable
// matrices. It declines any other layout, which then takes the general step.

#include "NeuralNets/PatternLoop.h"

#include <vector>

namespace kestrane {

class TConditionLayer;
class TVemoOutputLayer;
namespace kernels {
struct ArcBlock;
}

class TVemoPatternLoop : public TPatternLoop {
public:
  int Run(TFastEpoch &epoch, const Rows &rows, int count) override;

private:
  // Checks the network, its matrices and the stores' state and sets the
  // fields below; false: decline.
  bool Plan(TFastEpoch &epoch);
  // The input and condition degrees of a pattern into `degrees`.
  void Fuzzify(const double *input, double *degrees);
  // The rule layer's sums of a pattern's degrees into ruleSum.
  void RuleSums(const double *degrees);
  // The rest of the forward pass into the network's activations; an output
  // outside [0, 1] raises the output layer's own exception.
  void FinishForward(const double *degrees);
  void Desired(const double *target);
  // The rule matrix's weights and changes by columns, and back.
  void HoldColumns();
  void ReturnColumns();

  int numIn = 0, numCond = 0, numRules = 0, numActions = 0, numOut = 0;
  double *x = nullptr, *cond = nullptr, *rule = nullptr, *action = nullptr, *out = nullptr;
  TConditionLayer *condition = nullptr;
  TVemoOutputLayer *output = nullptr;
  kernels::ArcBlock *ruleArcs = nullptr, *actionArcs = nullptr;
  const unsigned char *ruleExists = nullptr, *actionExists = nullptr; // nullptr: every arc
  const double *centres = nullptr; // of the output terms, per action node
  std::vector<int> inputOf;        // per condition neuron
  std::vector<int> outputOf;       // per action neuron
  std::vector<int> counts;         // output terms per output
  std::vector<double> num, den, outDelta, degrees, actionDelta, ruleDelta;
  std::vector<double> condBuf[2]; // this pattern's degrees and the next one's
  std::vector<double> ruleSum;    // the rule layer's sums, before the +0.0 of its net input
  bool columns = false;           // the rule matrix is held by columns (ruleW, ruleD)
  int stride = 0;
  std::vector<double> ruleW, ruleD;
};

} // namespace kestrane

#endif
