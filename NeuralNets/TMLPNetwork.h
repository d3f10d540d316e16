#ifndef KESTRANE_NEURALNETS_TMLPNETWORK_H
#define KESTRANE_NEURALNETS_TMLPNETWORK_H

#include "NeuralNets/TBasicNetwork.h"

#include <memory>

namespace kestrane {

class Data;
class TErrorObj;

// Multilayer perceptron: layer 0 the bias neuron (or empty), layer 1 the input
// layer, then a chain of sigmoid TGainLayers, each fed by the layer below and,
// with bias, by layer 0. Every matrix is a TPrunedConnections.
class TMLPNetwork : public TBasicNetwork {
public:
  // n sizes give n + 1 layers: sizes[0] inputs, sizes[1 .. n-1] the sigmoid layers.
  TMLPNetwork(int n, const int *sizes, bool bias);
  // Only the grid for n + 1 layers; the creator (the network file reader)
  // fills every layer and matrix itself.
  TMLPNetwork(int n, bool bias);
  ~TMLPNetwork() override = default;

  static constexpr const char *kTypeName = "MLP";
  const char *GetNetworkNType() const override { return kTypeName; }

  // Forward passes over `in` (NeuralNets/TableRecall.h). TException: no
  // table ("Null data pointer"), or one whose rows present fewer inputs than
  // the network has (or, RecallError, other than as many outputs).
  // A new table with the inputs of every row slot of `in` and the outputs for them.
  std::unique_ptr<Data> Recall(Data *in);
  using TBasicNetwork::Recall;
  // A new table of the outputs only, one row per data row of `in`.
  void RecallOutputOnly(Data *in, std::unique_ptr<Data> &result);
  // Feeds targets and outputs of every row slot of `in` to `error` (not reset
  // first) and returns its Value; no error object raises TException too.
  double RecallError(Data *in, TErrorObj *error);

  bool bias;
};

} // namespace kestrane

#endif
