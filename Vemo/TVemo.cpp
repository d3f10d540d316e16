#include "Vemo/TVemo.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TPrunedConnections.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TToConditionConnections.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemoOutputLayer.h"

#include <climits>
#include <cstdint>

namespace kestrane {

namespace {

[[noreturn]] void Fail(const char *message, const char *function) {
  throw TException(message, kBadParameter, function);
}

} // namespace

TVemo::TVemo() { SetupGrid(kNumLayers); }

TVemo::TVemo(int numInputs, const int *mfPerInput, int numRules, const int *mfPerOutput,
             int numOutputs) {
  // Checked before the grid exists, so nothing half-built is left behind.
  if (numInputs < 0 || numRules < 0 || numOutputs < 0)
    Fail("Negative count of inputs, rules or outputs", "TVemo::TVemo");
  if ((numInputs > 0 && mfPerInput == nullptr) || (numOutputs > 0 && mfPerOutput == nullptr))
    throw TException("Null membership function counts", kNullPointerParameter, "TVemo::TVemo");
  int64_t C = 0;
  for (int i = 0; i < numInputs; ++i) {
    if (mfPerInput[i] < 2)
      Fail("Must be >= 2 MF per input", "TVemo::TVemo");
    C += mfPerInput[i];
  }
  int64_t A = 0;
  for (int o = 0; o < numOutputs; ++o) {
    if (mfPerOutput[o] < 2)
      Fail("Must be >= 2 MF per output", "TVemo::TVemo");
    A += mfPerOutput[o];
  }
  if (C > INT_MAX || A > INT_MAX)
    Fail("Too many membership functions", "TVemo::TVemo");

  SetupGrid(kNumLayers);
  try {
    layers[kBiasLayer] = new TSimpleLayer(this, kBiasLayer, 0);
    layers[kInputLayer] = new TSimpleInputLayer(this, kInputLayer, numInputs);
    auto *condition = new TConditionLayer(this, kConditionLayer, static_cast<int>(C));
    layers[kConditionLayer] = condition;
    condition->SetInputMFCounts(numInputs, mfPerInput);
    layers[kRuleLayer] = new TSimpleLayer(this, kRuleLayer, numRules);
    layers[kActionLayer] = new TSimpleLayer(this, kActionLayer, static_cast<int>(A));
    auto *output = new TVemoOutputLayer(this, kOutputLayer, numOutputs);
    layers[kOutputLayer] = output;
    output->SetOutputMFCounts(static_cast<int>(A), mfPerOutput);

    layers[kInputLayer]->SetLayerActFunction(ActLinear);
    layers[kConditionLayer]->SetLayerActFunction(ActVemoCondition);
    layers[kRuleLayer]->SetLayerActFunction(ActSigmoid);
    layers[kActionLayer]->SetLayerActFunction(ActSigmoid);
    layers[kOutputLayer]->SetLayerActFunction(ActCog);

    Connect(kInputLayer, kConditionLayer);
    Connect(kConditionLayer, kRuleLayer);
    Connect(kRuleLayer, kActionLayer);
    Connect(kActionLayer, kOutputLayer);
  } catch (...) {
    FillUnsetLayers(); // the network destructor needs every layer
    throw;
  }
}

TVemo::~TVemo() = default;

void TVemo::Connect(int fromLayer, int toLayer) {
  CheckLayerPair(fromLayer, toLayer, "TVemo::Connect");
  if (priv_conns_index[toLayer][fromLayer]->IsConnected())
    return;
  TBasicConnections *matrix;
  if (fromLayer == kInputLayer && toLayer == kConditionLayer)
    matrix = new TToConditionConnections(this, fromLayer, toLayer);
  else if (fromLayer == kActionLayer && toLayer == kOutputLayer)
    matrix = new TToOutputConnections(this, fromLayer, toLayer);
  else
    matrix = new TPrunedConnections(this, fromLayer, toLayer);
  ReplaceConnections(fromLayer, toLayer, matrix);
}

TConditionLayer *TVemo::GetConditionLayer() const {
  return numLayers > kConditionLayer ? dynamic_cast<TConditionLayer *>(layers[kConditionLayer])
                                     : nullptr;
}

TVemoOutputLayer *TVemo::GetOutputLayer() const {
  return numLayers > kOutputLayer ? dynamic_cast<TVemoOutputLayer *>(layers[kOutputLayer])
                                  : nullptr;
}

TBasicConnections *TVemo::WeightMatrix(int weightLayer, const char *function) const {
  if (weightLayer < kConditionCentres || weightLayer > kOutputCentres ||
      weightLayer + 1 >= numLayers)
    Fail("Invalid weight layer", function);
  return priv_conns_index[weightLayer + 1][weightLayer];
}

int TVemo::CentreCount(int weightLayer) const {
  return GetLayerSize(weightLayer == kConditionCentres ? kConditionLayer : kActionLayer);
}

bool TVemo::NodesInRange(int weightLayer, int from, int to) const {
  return from >= 0 && from < GetLayerSize(weightLayer) && to >= 0 &&
         to < GetLayerSize(weightLayer + 1);
}

bool TVemo::ArcExists(int weightLayer, int from, int to) const {
  return NodesInRange(weightLayer, from, to) &&
         priv_conns_index[weightLayer + 1][weightLayer]->IsValid(from, to);
}

bool TVemo::ArcOfNeuron(int weightLayer, int k, int &from, int &to) const {
  if (weightLayer == kConditionCentres) {
    to = k;
    const TConditionLayer *condition = GetConditionLayer();
    if (condition != nullptr && condition->HasCounts() && k < condition->numNeurons) {
      from = condition->GetInputOfNeuron(k);
      return ArcExists(kConditionCentres, from, to);
    }
    for (from = 0; from < GetLayerSize(kInputLayer); ++from)
      if (ArcExists(kConditionCentres, from, to))
        return true;
    return false;
  }
  from = k;
  const TVemoOutputLayer *output = GetOutputLayer();
  if (output != nullptr && k < output->GetNumMapped()) {
    to = output->GetOutputOfAction(k);
    return ArcExists(kOutputCentres, from, to);
  }
  for (to = 0; to < GetLayerSize(kOutputLayer); ++to)
    if (ArcExists(kOutputCentres, from, to))
      return true;
  return false;
}

void TVemo::GetWeightValue(int weightLayer, int from, int to, double &value) {
  TBasicConnections *matrix = WeightMatrix(weightLayer, "TVemo::GetWeightValue");
  if (!ArcExists(weightLayer, from, to))
    Fail("Invalid weight number", "TVemo::GetWeightValue");
  value = *matrix->GetWeightPtr(from, to);
}

void TVemo::SetWeightValue(int weightLayer, int from, int to, double value) {
  TBasicConnections *matrix = WeightMatrix(weightLayer, "TVemo::SetWeightValue");
  if (!ArcExists(weightLayer, from, to))
    Fail("Invalid weight number", "TVemo::SetWeightValue");
  *matrix->GetWeightPtr(from, to) = value;
}

std::vector<double> TVemo::GetWeightLayer(int weightLayer) {
  TBasicConnections *matrix = WeightMatrix(weightLayer, "TVemo::GetWeightLayer");
  std::vector<double> values;
  if (weightLayer == kConditionCentres || weightLayer == kOutputCentres) {
    const int n = CentreCount(weightLayer);
    values.assign(static_cast<size_t>(n > 0 ? n : 0), 0.0);
    int from, to;
    for (int k = 0; k < n; ++k)
      if (ArcOfNeuron(weightLayer, k, from, to))
        values[k] = *matrix->GetWeightPtr(from, to);
    return values;
  }
  const int f = GetLayerSize(weightLayer);
  const int t = GetLayerSize(weightLayer + 1);
  if (f <= 0 || t <= 0)
    return values;
  values.assign(static_cast<size_t>(f) * t, 0.0);
  for (int from = 0; from < f; ++from)
    for (int to = 0; to < t; ++to)
      if (matrix->IsValid(from, to))
        values[static_cast<size_t>(from) * t + to] = *matrix->GetWeightPtr(from, to);
  return values;
}

void TVemo::SetWeightLayer(int weightLayer, const double *values) {
  TBasicConnections *matrix = WeightMatrix(weightLayer, "TVemo::SetWeightLayer");
  if (weightLayer == kConditionCentres || weightLayer == kOutputCentres) {
    const int n = CentreCount(weightLayer);
    int from, to;
    for (int k = 0; k < n; ++k)
      if (ArcOfNeuron(weightLayer, k, from, to))
        *matrix->GetWeightPtr(from, to) = values[k];
    return;
  }
  const int f = GetLayerSize(weightLayer);
  const int t = GetLayerSize(weightLayer + 1);
  for (int from = 0; from < f; ++from)
    for (int to = 0; to < t; ++to)
      if (matrix->IsValid(from, to))
        *matrix->GetWeightPtr(from, to) = values[static_cast<size_t>(from) * t + to];
}

void TVemo::SetTrainable(int weightLayer, int to, int from, bool trainable, const char *function) {
  TBasicConnections *matrix = WeightMatrix(weightLayer, function);
  if (weightLayer == kConditionCentres) {
    TConditionLayer *condition = GetConditionLayer();
    if (condition == nullptr || to < 0 || to >= condition->numNeurons)
      Fail("Invalid weight number", function);
    condition->nodes[to].trainable = trainable;
    return;
  }
  if (!ArcExists(weightLayer, from, to))
    Fail("Invalid weight number", function);
  if (trainable)
    matrix->UnfreezeArc(from, to);
  else
    matrix->FreezeArc(from, to);
}

void TVemo::FreezeWeight(int weightLayer, int to, int from) {
  SetTrainable(weightLayer, to, from, false, "TVemo::FreezeWeight");
}

void TVemo::UnfreezeWeight(int weightLayer, int to, int from) {
  SetTrainable(weightLayer, to, from, true, "TVemo::UnfreezeWeight");
}

void TVemo::WeightExists(int weightLayer, int from, int to, bool &exists) {
  TBasicConnections *matrix = WeightMatrix(weightLayer, "TVemo::WeightExists");
  if (!NodesInRange(weightLayer, from, to))
    Fail("Invalid node number", "TVemo::WeightExists");
  exists = matrix->IsValid(from, to);
}

void TVemo::GetActivationValue(int layer, int node, double &value) {
  if (layer < 0 || layer >= numLayers)
    Fail("Invalid node layer", "TVemo::GetActivationValue");
  if (node < 0 || node >= GetLayerSize(layer))
    Fail("Invalid node number", "TVemo::GetActivationValue");
  value = layers[layer]->activations[node];
}

void TVemo::GetStructure(int &numInputs, int &numConditionNodes, std::vector<int> &mfPerInput,
                         int &numRules, int &numActionNodes, std::vector<int> &mfPerOutput,
                         int &numOutputs) {
  numInputs = GetLayerSize(kInputLayer);
  numConditionNodes = GetLayerSize(kConditionLayer);
  numRules = GetLayerSize(kRuleLayer);
  numActionNodes = GetLayerSize(kActionLayer);
  numOutputs = GetLayerSize(kOutputLayer);
  const TConditionLayer *condition = GetConditionLayer();
  mfPerInput = condition != nullptr ? condition->GetMFCounts() : std::vector<int>();
  const TVemoOutputLayer *output = GetOutputLayer();
  mfPerOutput = output != nullptr ? output->GetMFCounts() : std::vector<int>();
}

void TVemo::InitWeights(double min, double max) {
  if (!(min <= max)) // also refuses NaN
    Fail("Invalid weight range: the minimum must not exceed the maximum", "TVemo::InitWeights");
  auto *centres =
      dynamic_cast<TToOutputConnections *>(priv_conns_index[kOutputLayer][kActionLayer]);
  // A count loaded from a file could be below 2; refuse before changing anything.
  if (centres != nullptr)
    for (int count : centres->outputLayer->GetMFCounts())
      if (count < 2)
        Fail("Must be >= 2 MF per output", "TVemo::InitWeights");

  if (TConditionLayer *condition = GetConditionLayer())
    condition->ResetCentres();
  priv_conns_index[kRuleLayer][kConditionLayer]->Randomize(min, max);
  priv_conns_index[kActionLayer][kRuleLayer]->Randomize(min, max);
  if (centres != nullptr)
    centres->ResetCentres();
}

} // namespace kestrane
