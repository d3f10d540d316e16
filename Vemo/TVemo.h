#ifndef KESTRANE_VEMO_TVEMO_H
#define KESTRANE_VEMO_TVEMO_H

#include "NeuralNets/TBasicNetwork.h"

#include <memory>
#include <vector>

namespace kestrane {

class Data;
class TConditionLayer;
class TVemoOutputLayer;

// The six-layer fuzzy network:
//   0 bias (TSimpleLayer)          1 input (TSimpleInputLayer, linear)
//   2 condition (TConditionLayer)  3 rules (TSimpleLayer, sigmoid)
//   4 action (TSimpleLayer, sigmoid, one neuron per output membership function)
//   5 output (TVemoOutputLayer, centre of gravity)
// Matrices 1->2 TToConditionConnections, 2->3 and 3->4 TPrunedConnections,
// 4->5 TToOutputConnections.
//
// Weight access numbers the matrices by weight layer: 1 is 1->2 (condition
// centres), 2 is 2->3, 3 is 3->4, 4 is 4->5 (output centres). Failures raise
// TException ("Bad Parameter") before anything changes.
class TVemo : public TConnectedNetwork {
public:
  // The layers of the plan by number; code that indexes layers or the grid
  // of a TVemo names them so.
  enum Layer : int {
    kBiasLayer = 0,
    kInputLayer = 1,
    kConditionLayer = 2,
    kRuleLayer = 3,
    kActionLayer = 4,
    kOutputLayer = 5,
  };
  static constexpr int kNumLayers = 6;
  // The weight layers of the access operations below, a numbering of their
  // own: weight layer k is the matrix from layer k to layer k + 1.
  enum WeightLayerNumber : int {
    kConditionCentres = 1, // input -> condition
    kRuleWeights = 2,      // condition -> rule
    kActionWeights = 3,    // rule -> action
    kOutputCentres = 4,    // action -> output
  };

  // The empty network for the file reader: 6-layer grid, layers unset.
  TVemo();
  // mfPerInput: numInputs counts; mfPerOutput: numOutputs counts; each >= 2.
  // Negative or missing counts, or more than INT_MAX membership functions on
  // either side, raise TException.
  TVemo(int numInputs, const int *mfPerInput, int numRules, const int *mfPerOutput, int numOutputs);
  ~TVemo() override;

  // (1, 2) gets a TToConditionConnections, (4, 5) a TToOutputConnections,
  // every other pair a TPrunedConnections. An existing matrix is kept.
  void Connect(int fromLayer, int toLayer) override;
  static constexpr const char *kTypeName = "Vemo";
  const char *GetNetworkNType() const override { return kTypeName; }

  // The forward pass of one input vector.
  using TConnectedNetwork::Recall;
  // Forward passes over the rows of `in`, first to last (TVemoRecall.cpp).
  // The result is a new table of in's rows: their inputs and the network's
  // outputs (Recall) or the outputs only (RecallOutputOnly), no labels.
  // TException: no table ("Null data pointer"), or a table presenting fewer
  // input values than the network has inputs.
  void Recall(Data *in, std::unique_ptr<Data> &result);
  void RecallOutputOnly(Data *in, std::unique_ptr<Data> &result);
  // The root mean squared error between in's target outputs and the
  // network's outputs; 0.0 for a table without rows. The table must present
  // exactly as many outputs as the network has.
  void RecallOutputOnly(Data *in, double &error);

  void GetWeightValue(int weightLayer, int from, int to, double &value);
  void SetWeightValue(int weightLayer, int from, int to, double value);
  // Weight layer 1: the centre of condition neuron k at k; 4: the centre of
  // action neuron k at k; 2 and 3: from-node major, from * (to-layer size) + to.
  // Positions without an arc read as 0.0.
  std::vector<double> GetWeightLayer(int weightLayer);
  // The inverse of GetWeightLayer; `values` holds as many values as
  // GetWeightLayer returns. Positions without an arc are skipped.
  void SetWeightLayer(int weightLayer, const double *values);
  // Note the order: to before from. Weight layer 1 marks condition neuron
  // `to` (from unused); layers 2 to 4 freeze or unfreeze the matrix arc.
  void FreezeWeight(int weightLayer, int to, int from);
  void UnfreezeWeight(int weightLayer, int to, int from);
  void WeightExists(int weightLayer, int from, int to, bool &exists);
  void GetActivationValue(int layer, int node, double &value);
  void GetStructure(int &numInputs, int &numConditionNodes, std::vector<int> &mfPerInput,
                    int &numRules, int &numActionNodes, std::vector<int> &mfPerOutput,
                    int &numOutputs);
  // Even condition centres, random rule and action weights in [min, max)
  // (matrix 2->3 first), even output centres. Raises TException, changing
  // nothing, unless min <= max (NaN included).
  void InitWeights(double min, double max);

  // The two fuzzy layers, or nullptr when a network file put other classes there.
  TConditionLayer *GetConditionLayer() const;
  TVemoOutputLayer *GetOutputLayer() const;

private:
  // Matrix of a weight layer 1-4; raises "Invalid weight layer" for others.
  TBasicConnections *WeightMatrix(int weightLayer, const char *function) const;
  // Weight layers 1 and 4: one centre per condition or action neuron.
  int CentreCount(int weightLayer) const;
  // Both node numbers inside the two layers of the weight layer.
  bool NodesInRange(int weightLayer, int from, int to) const;
  // The arc exists (nodes in range and the matrix has it).
  bool ArcExists(int weightLayer, int from, int to) const;
  // For weight layers 1 and 4: the arc of neuron k (condition neuron k, or
  // action neuron k); false when it has none.
  bool ArcOfNeuron(int weightLayer, int k, int &from, int &to) const;
  void SetTrainable(int weightLayer, int to, int from, bool trainable, const char *function);
};

} // namespace kestrane

#endif
