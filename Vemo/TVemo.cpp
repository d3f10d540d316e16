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

constexpr int kNumLayers = 6;

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
    layers[0] = new TSimpleLayer(this, 0, 0);
    layers[1] = new TSimpleInputLayer(this, 1, numInputs);
    auto *condition = new TConditionLayer(this, 2, static_cast<int>(C));
    layers[2] = condition;
    condition->SetInputMFCounts(numInputs, mfPerInput);
    layers[3] = new TSimpleLayer(this, 3, numRules);
    layers[4] = new TSimpleLayer(this, 4, static_cast<int>(A));
    auto *output = new TVemoOutputLayer(this, 5, numOutputs);
    layers[5] = output;
    output->SetOutputMFCounts(static_cast<int>(A), mfPerOutput);

    layers[1]->SetLayerActFunction(ActLinear);
    layers[2]->SetLayerActFunction(ActVemoCondition);
    layers[3]->SetLayerActFunction(ActSigmoid);
    layers[4]->SetLayerActFunction(ActSigmoid);
    layers[5]->SetLayerActFunction(ActCog);

    Connect(1, 2);
    Connect(2, 3);
    Connect(3, 4);
    Connect(4, 5);
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
  if (fromLayer == 1 && toLayer == 2)
    matrix = new TToConditionConnections(this, fromLayer, toLayer);
  else if (fromLayer == 4 && toLayer == 5)
    matrix = new TToOutputConnections(this, fromLayer, toLayer);
  else
    matrix = new TPrunedConnections(this, fromLayer, toLayer);
  ReplaceConnections(fromLayer, toLayer, matrix);
}

TConditionLayer *TVemo::GetConditionLayer() const {
  return numLayers > 2 ? dynamic_cast<TConditionLayer *>(layers[2]) : nullptr;
}

TVemoOutputLayer *TVemo::GetOutputLayer() const {
  return numLayers > 5 ? dynamic_cast<TVemoOutputLayer *>(layers[5]) : nullptr;
}

TBasicConnections *TVemo::WeightMatrix(int weightLayer, const char *function) const {
  if (weightLayer < 1 || weightLayer > 4 || weightLayer + 1 >= numLayers)
    Fail("Invalid weight layer", function);
  return priv_conns_index[weightLayer + 1][weightLayer];
}

bool TVemo::NodesInRange(int weightLayer, int from, int to) const {
  return from >= 0 && from < layers[weightLayer]->numNeurons && to >= 0 &&
         to < layers[weightLayer + 1]->numNeurons;
}

bool TVemo::ArcExists(int weightLayer, int from, int to) const {
  return NodesInRange(weightLayer, from, to) &&
         priv_conns_index[weightLayer + 1][weightLayer]->IsValid(from, to);
}

bool TVemo::ArcOfNeuron(int weightLayer, int k, int &from, int &to) const {
  if (weightLayer == 1) {
    to = k;
    const TConditionLayer *condition = GetConditionLayer();
    if (condition != nullptr && condition->HasCounts() && k < condition->numNeurons) {
      from = condition->GetInputOfNeuron(k);
      return ArcExists(1, from, to);
    }
    for (from = 0; from < layers[1]->numNeurons; ++from)
      if (ArcExists(1, from, to))
        return true;
    return false;
  }
  from = k;
  const TVemoOutputLayer *output = GetOutputLayer();
  if (output != nullptr && k < output->GetNumMapped()) {
    to = output->GetOutputOfAction(k);
    return ArcExists(4, from, to);
  }
  for (to = 0; to < layers[5]->numNeurons; ++to)
    if (ArcExists(4, from, to))
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
  if (weightLayer == 1 || weightLayer == 4) {
    const int n = layers[weightLayer == 1 ? 2 : 4]->numNeurons;
    values.assign(static_cast<size_t>(n > 0 ? n : 0), 0.0);
    int from, to;
    for (int k = 0; k < n; ++k)
      if (ArcOfNeuron(weightLayer, k, from, to))
        values[k] = *matrix->GetWeightPtr(from, to);
    return values;
  }
  const int f = layers[weightLayer]->numNeurons;
  const int t = layers[weightLayer + 1]->numNeurons;
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
  if (weightLayer == 1 || weightLayer == 4) {
    const int n = layers[weightLayer == 1 ? 2 : 4]->numNeurons;
    int from, to;
    for (int k = 0; k < n; ++k)
      if (ArcOfNeuron(weightLayer, k, from, to))
        *matrix->GetWeightPtr(from, to) = values[k];
    return;
  }
  const int f = layers[weightLayer]->numNeurons;
  const int t = layers[weightLayer + 1]->numNeurons;
  for (int from = 0; from < f; ++from)
    for (int to = 0; to < t; ++to)
      if (matrix->IsValid(from, to))
        *matrix->GetWeightPtr(from, to) = values[static_cast<size_t>(from) * t + to];
}

void TVemo::SetTrainable(int weightLayer, int to, int from, bool trainable,
                         const char *function) {
  TBasicConnections *matrix = WeightMatrix(weightLayer, function);
  if (weightLayer == 1) {
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
  if (node < 0 || node >= layers[layer]->numNeurons)
    Fail("Invalid node number", "TVemo::GetActivationValue");
  value = layers[layer]->activations[node];
}

void TVemo::GetStructure(int &numInputs, int &numConditionNodes, std::vector<int> &mfPerInput,
                         int &numRules, int &numActionNodes, std::vector<int> &mfPerOutput,
                         int &numOutputs) {
  numInputs = layers[1]->numNeurons;
  numConditionNodes = layers[2]->numNeurons;
  numRules = layers[3]->numNeurons;
  numActionNodes = layers[4]->numNeurons;
  numOutputs = layers[5]->numNeurons;
  const TConditionLayer *condition = GetConditionLayer();
  mfPerInput = condition != nullptr ? condition->GetMFCounts() : std::vector<int>();
  const TVemoOutputLayer *output = GetOutputLayer();
  mfPerOutput = output != nullptr ? output->GetMFCounts() : std::vector<int>();
}

void TVemo::InitWeights(double min, double max) {
  if (!(min <= max)) // also refuses NaN
    Fail("Invalid weight range: the minimum must not exceed the maximum", "TVemo::InitWeights");
  auto *centres = dynamic_cast<TToOutputConnections *>(priv_conns_index[5][4]);
  // A count loaded from a file could be below 2; refuse before changing anything.
  if (centres != nullptr)
    for (int count : centres->outputLayer->GetMFCounts())
      if (count < 2)
        Fail("Must be >= 2 MF per output", "TVemo::InitWeights");

  if (TConditionLayer *condition = GetConditionLayer())
    condition->ResetCentres();
  priv_conns_index[3][2]->Randomize(min, max);
  priv_conns_index[4][3]->Randomize(min, max);
  if (centres != nullptr)
    centres->ResetCentres();
}

} // namespace kestrane
