#ifndef KESTRANE_VEMO_TVEMOOUTPUTLAYER_H
#define KESTRANE_VEMO_TVEMOOUTPUTLAYER_H

#include "NeuralNets/TBasicLayer.h"

#include <vector>

namespace kestrane {

// Defuzzification: one neuron per output. The crisp value of an output is the
// centre of gravity of its membership functions' centres (the weights of the
// matrix from the action layer), weighted by the action activations. The
// neurons' function (ActCog) is never evaluated.
class TVemoOutputLayer : public TSimpleLayer {
public:
  TVemoOutputLayer(TBasicNetwork *network, int layerNum, int numNeurons);

  // Raises a TException (after printing the value on standard output) when
  // a defuzzified value lies outside [0, 1] or is not a number.
  void Propagate(const double *input) override;
  static constexpr const char *kTypeName = "Defuzzify";
  const char *GetLayerNType() const override { return kTypeName; }
  void Destroy() override { delete this; }
  TBasicLayer *Clone(TBasicNetwork *owner) const override;
  int GetLayerKind() const override { return 5; }

  // Stores the total, one count per neuron, and the map from action neuron
  // to output (output o repeated counts[o] times).
  void SetOutputMFCounts(int total, const int *counts);

  int GetTotalMF() const { return totalMF; }
  const std::vector<int> &GetMFCounts() const { return mfCounts; }
  // Length of the action-neuron map (the sum of the counts).
  int GetNumMapped() const { return static_cast<int>(actionOutput.size()); }
  // Output of action neuron k (k < GetNumMapped()).
  int GetOutputOfAction(int k) const { return actionOutput[k]; }
  // First action neuron of output o.
  int GetFirstActionOfOutput(int o) const { return firstOfOutput[o]; }

private:
  int totalMF = 0;
  std::vector<int> mfCounts;      // per output
  std::vector<int> actionOutput;  // per action neuron
  std::vector<int> firstOfOutput; // per output
  // Scratch of Propagate, sized once.
  std::vector<double> numerator;
  std::vector<double> denominator;
};

} // namespace kestrane

#endif
