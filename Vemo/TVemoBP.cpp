#include "Vemo/TVemoBP.h"

#include "KQmessage/TException.h"
#include "NeuralNets/FastEpoch.h"
#include "NeuralNets/TBasicLayer.h"
#include "Vemo/FuzzyArcKernels.h"
#include "Vemo/TToConditionConnections.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoOutputLayer.h"
#include "Vemo/VemoPatternLoop.h"

#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>

namespace kestrane {

namespace {

[[noreturn]] void Reject(const std::string &message, const char *function) {
  throw TException(message.c_str(), kBadParameter, function);
}

// The slopes LayerBackprop knows; the gain forms read each neuron's gain and
// so need a layer of gain neurons.
bool HasSlope(TBasicLayer &layer) {
  const ActFunction fn = layer.GetLayerActFunction();
  if (fn == ActLinear || fn == ActSigmoid || fn == ActTanh)
    return true;
  if (fn == ActLinearGain || fn == ActSigmoidGain || fn == ActTanhGain)
    return std::strcmp(layer.GetLayerNType(), TGainLayer::kTypeName) == 0;
  return false;
}

// Checked before the base class copies the network into its stores.
TBasicNetwork *Trainable(TBasicNetwork *network) {
  if (network == nullptr)
    throw TException("Null network pointer", kNullPointerParameter, "TVemoBP::TVemoBP");
  TVemoBP::Validate(*network, "TVemoBP::TVemoBP");
  return network;
}

} // namespace

TVemoBP::TVemoBP(TBasicNetwork *network) : TBackpropModule(Trainable(network)) {
  fastEpoch->Serve(typeid(TVemoBP));
  fastEpoch->ReadsNoDeltasBelow(TVemo::kRuleLayer); // BackpropagateDeltas stops there
  fastEpoch->AddListedClasses(FuzzyMatrixArcs());
  fastEpoch->SetPatternLoop(std::make_unique<TVemoPatternLoop>());
  outputSlopeUsed = false; // BackpropagateDeltas starts at the action layer
  // The membership centres stay as loaded, so no penalty may pull them.
  ExemptFromPenalty(TVemo::kInputLayer, TVemo::kConditionLayer);
  ExemptFromPenalty(TVemo::kActionLayer, TVemo::kOutputLayer);
  int most = 0;
  auto *output = static_cast<TVemoOutputLayer *>(network->layers[TVemo::kOutputLayer]);
  for (int count : output->GetMFCounts())
    most = count > most ? count : most;
  centres.assign(static_cast<size_t>(most), 0.0);
  degrees.assign(static_cast<size_t>(most), 0.0);
}

void TVemoBP::Validate(TBasicNetwork &network, const char *function) {
  if (std::strcmp(network.GetNetworkNType(), TVemo::kTypeName) != 0)
    Reject(std::string("Not a Vemo network: ") + network.GetNetworkNType(), function);
  if (network.numLayers != TVemo::kNumLayers || network.outLayer != TVemo::kOutputLayer)
    Reject("A Vemo network needs six layers with layer 5 as its output layer", function);
  auto *output = dynamic_cast<TVemoOutputLayer *>(network.layers[TVemo::kOutputLayer]);
  if (output == nullptr)
    Reject("The output layer is not a defuzzifying layer", function);
  const int actions = network.layers[TVemo::kActionLayer]->numNeurons;
  const std::vector<int> &counts = output->GetMFCounts();
  int sum = 0;
  for (int count : counts) {
    if (count < 2)
      Reject("Must be >= 2 MF per output", function);
    sum += count;
  }
  if (static_cast<int>(counts.size()) != output->numNeurons || sum != actions ||
      output->GetNumMapped() != actions)
    Reject("Output membership functions do not match the action layer", function);
  const auto &grid = network.priv_conns_index; // [to][from]
  if (dynamic_cast<TToConditionConnections *>(grid[TVemo::kConditionLayer][TVemo::kInputLayer]) ==
      nullptr)
    Reject("Matrix 1 -> 2 is not a ToConditionConnections matrix", function);
  auto *centreMatrix =
      dynamic_cast<TToOutputConnections *>(grid[TVemo::kOutputLayer][TVemo::kActionLayer]);
  if (centreMatrix == nullptr)
    Reject("Matrix 4 -> 5 is not a ToOutputConnections matrix", function);
  if (centreMatrix->NumCentres() != actions)
    Reject("Matrix 4 -> 5 does not hold one centre per action node", function);
  for (int l : {TVemo::kRuleLayer, TVemo::kActionLayer}) {
    // An input layer takes its values from outside and warns on every pattern
    // when the forward pass sets them; a hidden layer must compute its own.
    const char *type = network.layers[l]->GetLayerNType();
    if (std::strcmp(type, TSimpleLayer::kTypeName) != 0 &&
        std::strcmp(type, TGainLayer::kTypeName) != 0)
      Reject("Layer " + std::to_string(l) + " is of type " + type +
                 "; the rule and action layers must be Simple or Gain",
             function);
    if (!HasSlope(*network.layers[l]))
      Reject("Layer " + std::to_string(l) +
                 " needs one common activation function with a slope (Linear, Sigmoid, Tanh)",
             function);
  }
}

void TVemoBP::BackpropagateDeltas(bool crossEntropy) {
  auto *output = static_cast<TVemoOutputLayer *>(network->layers[TVemo::kOutputLayer]);
  TBasicConnections *centreMatrix =
      network->priv_conns_index[TVemo::kOutputLayer][TVemo::kActionLayer];
  const double *y = network->layers[TVemo::kOutputLayer]->activations.data();
  const double *g = gradients->layers[TVemo::kOutputLayer]->activations.data();
  const double *action = network->layers[TVemo::kActionLayer]->activations.data();
  double *delta = gradients->layers[TVemo::kActionLayer]->activations.data();
  const std::vector<int> &counts = output->GetMFCounts();
  // The class's own centres are contiguous: read them in place, not arc by arc.
  const double *own = typeid(*centreMatrix) == typeid(TToOutputConnections)
                          ? static_cast<TToOutputConnections *>(centreMatrix)->weights.data()
                          : nullptr;

  int k = 0;
  for (size_t j = 0; j < counts.size(); ++j) {
    const int m = counts[j];
    // The target, recovered from the output delta (output - target).
    const double x = y[j] - g[j];
    const double *c = own != nullptr ? own + k : centres.data();
    if (own == nullptr)
      for (int l = 0; l < m; ++l)
        centres[l] = *centreMatrix->GetWeightPtr(k + l, static_cast<int>(j));
    DesiredDegrees(x, c, m, degrees.data());
    for (int l = 0; l < m; ++l, ++k)
      delta[k] = action[k] - degrees[l];
  }
  LayerBackprop(TVemo::kActionLayer, crossEntropy);
  LayerBackprop(TVemo::kRuleLayer, crossEntropy);
}

} // namespace kestrane
