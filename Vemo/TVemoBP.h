#ifndef KESTRANE_VEMO_TVEMOBP_H
#define KESTRANE_VEMO_TVEMOBP_H

#include "NeuralNets/TTrainModule.h"

namespace kestrane {

// Backpropagation for a TVemo. Neither the defuzzifying output layer nor the
// condition layer has a slope, so the backward pass starts at the action
// layer: each target is fuzzified with its output's own membership functions
// into the degrees the action nodes should show. Only the arcs into the rule
// and action layers learn; the membership-function centres never change.
class TVemoBP : public TBackpropModule {
public:
  // Raises TException ("Bad Parameter", "TVemoBP::TVemoBP") when the network
  // is not one this module can train; see Validate.
  explicit TVemoBP(TBasicNetwork *network);
  ~TVemoBP() override = default;

  void BackpropagateDeltas(bool crossEntropy) override;

  // The network must be a six-layer "Vemo" whose output layer is layer 5, a
  // defuzzifying layer with at least 2 membership functions per output and
  // one action node (layer 4) per function; matrix 1->2 must be a
  // ToConditionConnections and 4->5 a ToOutputConnections with one centre per
  // action node; layers 3 and 4 must each have one common activation
  // function with a slope (linear, sigmoid, tanh; their gain forms only on a
  // gain layer). Raises TException with function name `function` otherwise.
  static void Validate(TBasicNetwork &network, const char *function);

  // Degrees of membership of x in the m >= 2 triangular functions with the
  // given increasing centres, shoulders at both ends.
  static void DesiredDegrees(double x, const double *centres, int m, double *degrees);

private:
  std::vector<double> centres; // one output's centres, reused per pattern
  std::vector<double> degrees;
};

// Inline: the training loops call it for every output of every pattern.
inline void TVemoBP::DesiredDegrees(double x, const double *c, int m, double *mu) {
  // First function: shoulder to the left.
  if (x <= c[0])
    mu[0] = 1;
  else if (x < c[1])
    mu[0] = 1 - (x - c[0]) / (c[1] - c[0]);
  else
    mu[0] = 0;
  for (int i = 1; i < m - 1; ++i) {
    const double L = c[i - 1], C = c[i], R = c[i + 1];
    if (C < x && x < R)
      mu[i] = 1 - (x - C) / (R - C);
    else if (L < x && x < C)
      mu[i] = 1 - (C - x) / (C - L);
    else if (x == C)
      mu[i] = 1;
    else
      mu[i] = 0;
  }
  // Last function: shoulder to the right.
  const int last = m - 1;
  if (x >= c[last])
    mu[last] = 1;
  else if (c[last - 1] < x)
    mu[last] = 1 - (c[last] - x) / (c[last] - c[last - 1]);
  else
    mu[last] = 0;
}

} // namespace kestrane

#endif
