#ifndef KESTRANE_VEMO_TCONDITIONLAYER_H
#define KESTRANE_VEMO_TCONDITIONLAYER_H

#include "NeuralNets/TBasicLayer.h"
#include "Vemo/TConditionNeuron.h"

#include <vector>

namespace kestrane {

// Fuzzification: one neuron per input membership function, the functions of
// input 0 first, then those of input 1, ... Each neuron's activation is the
// degree to which its input's value belongs to its triangle. The centres are
// presented to the rest of the system as the weights of the matrix from the
// input layer (TToConditionConnections).
class TConditionLayer : public TBasicLayer {
public:
  TConditionLayer(TBasicNetwork *network, int layerNum, int numNeurons);

  // Same behaviour as the base, without a virtual GetNeuron per neuron; the
  // common ActVemoCondition inline.
  void ApplyActivation(double *net) override;
  TBasicNeuron *GetNeuron(int i) override { return &nodes[i]; }
  // Reads the activations of the layer below (the input layer); `input` is unused.
  void Propagate(const double *input) override;
  static constexpr const char *kTypeName = "FuzzyCondition";
  const char *GetLayerNType() const override { return kTypeName; }
  void Destroy() override { delete this; }
  TBasicLayer *Clone(TBasicNetwork *owner) const override;
  void RemoveNeuron(int) override {}
  // The neurons are the membership functions of the inputs, not hidden units.
  bool RemovesNeurons() const override { return false; }
  virtual int GetLayerKind() const { return 4; }

  // Copies the counts, maps every neuron to its input, links the neighbours
  // and places even centres. Counts come from files too, so they are
  // checked (each >= 2, adding up to the neuron count; no more inputs than
  // the layer below has neurons) and rejected with a TException before
  // anything changes.
  void SetInputMFCounts(int numInputs, const int *counts);
  // Centre of function l of an input with m functions: l / (m - 1).
  void ResetCentres();

  int GetNumInputs() const { return numInputs; }
  const std::vector<int> &GetMFCounts() const { return mfCounts; }
  // Input (neuron of the layer below) of condition neuron j.
  int GetInputOfNeuron(int j) const { return nodeInput[j]; }
  // Index of the first condition neuron of input i.
  int GetFirstNeuronOfInput(int i) const { return firstOfInput[i]; }
  // True once SetInputMFCounts has run.
  bool HasCounts() const { return static_cast<int>(nodeInput.size()) == numNeurons; }

  std::vector<TConditionNeuron> nodes;

private:
  std::vector<int> nodeInput;    // per neuron
  std::vector<int> mfCounts;     // per input
  std::vector<int> firstOfInput; // per input
  int numInputs = 0;
};

} // namespace kestrane

#endif
