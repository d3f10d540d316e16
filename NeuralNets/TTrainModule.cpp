#include "NeuralNets/TTrainModule.h"

#include "DataObject/Data.h"
#include "KQmessage/KAssert.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"
#include "NeuralNets/FastEpoch.h"
#include "NeuralNets/TErrorObj.h"

#include <algorithm>
#include <string>
#include <typeinfo>

namespace kestrane {

namespace {

// A record without a learning rate scales the penalty terms by 1 but takes
// steps of 0: it trains nothing. Two readings of one absent key, kept apart
// by name. (The bootstrap trainer always writes the key.)
constexpr double kPenaltyRateWhenAbsent = 1.0;
constexpr double kStepWhenAbsent = 0.0;

double NumberOr(const TKQstructure &record, const char *keyword, double absent) {
  const TKQstructure *value = record.Find(keyword);
  return value ? TKQstructure::ParseNumber(value->GetHead().c_str()) : absent;
}

bool HeadIs(const TKQstructure &record, const char *word) {
  return strcasecmp(record.GetHead().c_str(), word) == 0;
}

[[noreturn]] void Refuse(const std::string &message, const char *function) {
  throw TException(message.c_str(), kBadParameter, function);
}

bool KnownPenalty(const TKQstructure &penalty) {
  return HeadIs(penalty, "NONE") || HeadIs(penalty, "QUADPENALTY") || HeadIs(penalty, "LWF");
}

std::unique_ptr<TBasicNetwork> ZeroedCopy(const TBasicNetwork &network) {
  auto copy = std::make_unique<TBasicNetwork>(network);
  copy->Randomize(0, 0);
  return copy;
}

} // namespace

// ---- visitors

void TIterateObj2ErrorsAndDeltas::Visit() {
  const double deltaTo = toActivations2[toNeuron];
  fromActivations2[fromNeuron] += *weight1 * deltaTo;
  *weight2 += deltaTo * fromActivations1[fromNeuron];
}

void TIterateObj2Update::Visit() { *weight1 -= learningRate * *weight2; }

void TIterateObj3UpdateMomentum::Visit() {
  *weight3 = -learningRate * *weight2 + momentum * *weight3;
  *weight1 += *weight3;
}

void TIterateObj2CalcPenaltyTerm::Visit() {
  const double w = *weight1;
  const double d = beta * (w * w) + 1;
  *weight2 += (k1 * beta / (d * d) + k2) * (2 * w);
}

void TIterateObjLWFCalcPenaltyTerm::Visit() {
  const double w = *weight1;
  const double sign = w > 0 ? 1.0 : (w < 0 ? -1.0 : 0.0);
  *weight2 += sign * a * b;
}

// ---- TTrainModule

namespace {

// The fast path lives for one epoch; on every way out the gradient store is
// left exactly as the general path leaves it.
class EpochScope {
public:
  explicit EpochScope(TFastEpoch &fast) : fast(fast) {}
  ~EpochScope() { fast.End(); }
  EpochScope(const EpochScope &) = delete;
  EpochScope &operator=(const EpochScope &) = delete;

private:
  TFastEpoch &fast;
};

} // namespace

bool TTrainModule::TakesFastPath() const { return fastEpoch->Serves(typeid(*this)); }

bool TTrainModule::CachedStepSettings(const TKQstructure *record, double &rate,
                                      double &momentum) const {
  return fastEpoch->CachedStepSettings(record, rate, momentum);
}

TTrainModule::TTrainModule(TBasicNetwork *network)
    : network(network), fastEpoch(std::make_unique<TFastEpoch>()) {
  if (network == nullptr)
    throw TException("Null network pointer", kNullPointerParameter, "TTrainModule::TTrainModule");
  gradients = ZeroedCopy(*network);
  changes = ZeroedCopy(*network);
  outputs.assign(static_cast<size_t>(network->GetNumOutputs()), 0.0);
}

// Freezing or removing an arc leaves the stores a slot nobody selects; an arc
// trainable in the network but not in the stores would read a slot that no
// zeroing reaches, and a changed neuron count or matrix class breaks the
// mirror outright.
void TTrainModule::CheckShape(const char *function) {
  const TBasicNetwork &store = *gradients;
  bool fits = store.numLayers == network->numLayers && store.inLayer == network->inLayer &&
              store.outLayer == network->outLayer;
  for (int l = 0; fits && l < network->numLayers; ++l)
    fits = store.GetLayerSize(l) == network->GetLayerSize(l);
  for (size_t c = 0; fits && c < network->priv_conns.size(); ++c) {
    TBasicConnections *conn = network->priv_conns[c];
    const TBasicConnections *twin = store.priv_conns[c];
    fits = typeid(*conn) == typeid(*twin);
    if (!fits || !conn->IsConnected())
      continue;
    const int from = conn->GetNumFromNeurons(), to = conn->GetNumToNeurons();
    for (int j = 0; fits && j < from; ++j)
      for (int k = 0; fits && k < to; ++k)
        fits = !SelectsArc(0, conn->GetFlags(j, k)) || SelectsArc(0, twin->GetFlags(j, k));
  }
  if (!fits)
    Refuse("The network changed shape after its train module was made", function);
}

void TTrainModule::ExemptFromPenalty(int fromLayer, int toLayer) {
  const int n = network->numLayers;
  if (fromLayer < 0 || fromLayer >= n || toLayer < 0 || toLayer >= n)
    Refuse("No such matrix", "TTrainModule::ExemptFromPenalty");
  exempt.resize(static_cast<size_t>(n) * n, 0);
  exempt[static_cast<size_t>(toLayer) * n + fromLayer] = 1;
}

std::vector<double> TTrainModule::PenalisedWeights() {
  std::vector<double> weights(static_cast<size_t>(network->GetNumWeights(0)));
  if (exempt.empty()) {
    weights.resize(static_cast<size_t>(network->GetWeights(weights.data(), 0)));
    return weights;
  }
  const int n = network->numLayers;
  int count = 0;
  for (int f = 0; f < n; ++f)
    for (int t = 0; t < n; ++t)
      if (Penalised(t, f))
        count += network->priv_conns_index[t][f]->GetWeights(weights.data() + count, 0);
  weights.resize(static_cast<size_t>(count));
  return weights;
}

TTrainModule::~TTrainModule() {
  gradients.reset();
  changes.reset();
}

double TTrainModule::Train(Data *table, TKQstructure *record, int &epochs) {
  if (record == nullptr)
    throw TException("Null parameter record", kNullPointerParameter, "TTrainModule::Train");
  const double threshold = NumberOr(*record, "THRESHOLD", 0.0);
  if (epochs > 0)
    CheckShape("TTrainModule::Train");
  // The shape cannot change between the epochs of one call.
  shapeChecked = true;
  struct Checked {
    bool &flag;
    ~Checked() { flag = false; }
  } checked{shapeChecked};
  double error = 0.0;
  for (int i = 0; i < epochs; ++i) {
    error = TrainEpoch(table, record);
    if (epochDone)
      epochDone(error);
    if (error < threshold) {
      epochs = i;
      return error;
    }
  }
  return error;
}

void TTrainModule::UpdateWeights(TKQstructure *) { KASSERT_TEXT(false, "false"); }

double TTrainModule::TrainEpoch(Data *table, TKQstructure *record) {
  if (table == nullptr)
    throw TException("Null data pointer", kNullPointerParameter, "TTrainModule::TrainEpoch");
  if (record == nullptr)
    throw TException("Null parameter record", kNullPointerParameter, "TTrainModule::TrainEpoch");

  if (!shapeChecked)
    CheckShape("TTrainModule::TrainEpoch");

  const TKQstructure *batchValue = record->Find("BATCH");
  const bool batch = batchValue != nullptr && HeadIs(*batchValue, "TRUE");
  bool crossEntropy = false;
  if (const TKQstructure *kind = record->Find("ERRORFUNCTION")) {
    if (HeadIs(*kind, "CROSSENTROPY"))
      crossEntropy = true;
    else if (!HeadIs(*kind, "MEANSQUAREDERROR"))
      Refuse("Unknown ERRORFUNCTION \"" + kind->GetHead() + "\" (MEANSQUAREDERROR or CROSSENTROPY)",
             "TTrainModule::TrainEpoch");
  }
  if (crossEntropy && outputSlopeUsed &&
      network->layers[network->outLayer]->GetLayerActFunction() != ActSigmoid)
    Refuse("CROSSENTROPY needs a sigmoid output layer", "TTrainModule::TrainEpoch");
  const double learningRate = NumberOr(*record, "LEARNINGRATE", kPenaltyRateWhenAbsent);
  const TKQstructure *penalty = record->Find("WEIGHTPENALTY");
  if (penalty != nullptr && !KnownPenalty(*penalty))
    Refuse("Unknown WEIGHTPENALTY \"" + penalty->GetHead() + "\" (NONE, QUADPENALTY or LWF)",
           "TTrainModule::TrainEpoch");
  if (penalty == nullptr)
    penalty = record->Set("WEIGHTPENALTY", std::make_unique<TKQstructure>("NONE"));
  const bool usePenalty = !HeadIs(*penalty, "NONE");

  // Reading past a row's values would take neighbouring memory for inputs or targets.
  const int numIn = network->GetNumInputs();
  const int numOut = network->GetNumOutputs();
  if (table->PresentedInputs() < numIn)
    throw TException("Too few input columns for the network", kBadParameter,
                     "TTrainModule::TrainEpoch");
  if (table->PresentedOutputs() != numOut)
    throw TException("Output columns do not match the network", kBadParameter,
                     "TTrainModule::TrainEpoch");
  if (table->MbrNdxDataRows == 0)
    return 0.0;

  std::unique_ptr<TErrorObj> measure;
  if (crossEntropy)
    measure = std::make_unique<TErrorCrossEntropyObj>(numOut);
  else
    measure = std::make_unique<TErrorRMSObj>(numOut);
  std::vector<double> input(static_cast<size_t>(std::max(table->MbrNdxInputs, 1)));
  std::vector<double> target(static_cast<size_t>(std::max(table->MbrNdxOutputs, 1)));

  EpochScope scope(*fastEpoch);
  if (TakesFastPath()) {
    TFastEpoch::StepSettings step;
    try {
      step.rate = NumberOr(*record, "LEARNINGRATE", kStepWhenAbsent);
      step.momentum = NumberOr(*record, "MOMENTUM", kStepWhenAbsent);
      step.known = true;
    } catch (const TKQstructure::Error &) {
      // A bad number is left to the step, which rejects it where it always did.
    }
    fastEpoch->Begin(*network, *gradients, *changes, record, step);
  }
  table->Rewind();
  const int n = table->MbrNdxRows;
  // The first and last patterns always take the module's own step: the first
  // settles the stores into the state the loop expects, the last leaves the
  // scratch callers may read.
  const TPatternLoop::Rows rows{table, measure.get(), input.data(), target.data()};
  if (batch) {
    if (!fastEpoch->ZeroGradients(false))
      gradients->Randomize(0, 0);
    fastEpoch->HoldGradients();
    for (int r = 0; r < n; ++r) {
      if (r == 1)
        r += fastEpoch->RunPatterns(rows, n - 2);
      fastEpoch->StartPattern(r + 1 == n);
      table->GetNextRow(input.data(), target.data());
      ComputeGradient(input.data(), target.data(), crossEntropy, measure.get());
    }
    fastEpoch->PatternsDone();
    if (usePenalty)
      PenaltyGradient(penalty, n, n, learningRate);
    UpdateWeights(record);
  } else {
    if (!usePenalty)
      fastEpoch->FoldStepIntoBackprop();
    for (int r = 0; r < n; ++r) {
      if (r == 1)
        r += fastEpoch->RunPatterns(rows, n - 2);
      fastEpoch->StartPattern(r + 1 == n);
      if (!fastEpoch->ZeroGradients(true))
        gradients->Randomize(0, 0);
      table->GetNextRow(input.data(), target.data());
      ComputeGradient(input.data(), target.data(), crossEntropy, measure.get());
      if (usePenalty)
        PenaltyGradient(penalty, 1, n, learningRate);
      UpdateWeights(record);
    }
    fastEpoch->PatternsDone();
  }

  if (usePenalty) {
    const std::vector<double> weights = PenalisedWeights();
    measure->AddPenalty(static_cast<int>(weights.size()), weights.data(), penalty);
  }
  return measure->Value();
}

void TTrainModule::ComputeGradient(const double *inputs, const double *targets, bool crossEntropy,
                                   TErrorObj *measure) {
  ClearDeltas();
  ForwardAndOutputDeltas(inputs, targets, measure);
  BackpropagateDeltas(crossEntropy);
}

void TTrainModule::ClearDeltas() {
  const int from = fastEpoch->DeltasToClearFrom();
  const int n = static_cast<int>(gradients->layers.size());
  for (int l = from; l < n; ++l) {
    std::vector<double> &deltas = gradients->layers[l]->activations;
    std::fill(deltas.begin(), deltas.end(), 0.0);
  }
  if (from == 0)
    fastEpoch->DeltasCleared();
}

void TTrainModule::ForwardAndOutputDeltas(const double *inputs, const double *targets,
                                          TErrorObj *measure) {
  network->Recall(inputs, outputs.data());
  if (measure != nullptr)
    measure->Accumulate(targets, outputs.data());
  double *delta = gradients->layers[gradients->outLayer]->activations.data();
  for (size_t i = 0; i < outputs.size(); ++i)
    delta[i] = outputs[i] - targets[i];
}

void TTrainModule::BackpropagateDeltas(bool crossEntropy) {
  for (int l = network->numLayers - 1; l >= 0; --l)
    LayerBackprop(l, crossEntropy);
}

void TTrainModule::LayerBackprop(int t, bool crossEntropy) {
  TBasicLayer *layer = network->layers[t];
  double *delta = gradients->layers[t]->activations.data();
  const double *y = layer->activations.data();
  const int n = layer->numNeurons;
  ActFunction fn = layer->GetLayerActFunction();
  KASSERT_TEXT(fn != nullptr, "fn!= NULL");

  if (crossEntropy && t == network->outLayer) {
    // With cross-entropy the sigmoid's slope cancels: delta stays output - target.
    if (fn != ActSigmoid)
      Refuse("CROSSENTROPY needs a sigmoid output layer", "TTrainModule::LayerBackprop");
  } else if (fn == ActLinear) {
  } else if (fn == ActSigmoid) {
    for (int i = 0; i < n; ++i)
      delta[i] *= y[i] * (1 - y[i]);
  } else if (fn == ActTanh) {
    for (int i = 0; i < n; ++i)
      delta[i] *= 1 - y[i] * y[i];
  } else if (fn == ActLinearGain) {
    for (int i = 0; i < n; ++i)
      delta[i] *= static_cast<TGainNeuron *>(layer->GetNeuron(i))->gain;
  } else if (fn == ActSigmoidGain) {
    for (int i = 0; i < n; ++i)
      delta[i] *= static_cast<TGainNeuron *>(layer->GetNeuron(i))->gain * y[i] * (1 - y[i]);
  } else if (fn == ActTanhGain) {
    for (int i = 0; i < n; ++i)
      delta[i] *= static_cast<TGainNeuron *>(layer->GetNeuron(i))->gain * (1 - y[i] * y[i]);
  } else {
    fn = ActError; // no slope: this layer cannot pass error on
  }

  TIterateObj2ErrorsAndDeltas visitor;
  if (fastEpoch->Active()) {
    // The epoch's plan lists the real matrices into t in the loop's order.
    for (const TFastEpoch::Into &m : fastEpoch->IntoLayer(t)) {
      KASSERT_TEXT(fn != ActError, "fn != ActError");
      if (!fastEpoch->Backprop(m, delta))
        network->priv_conns_index[t][m.f]->Iterate2(visitor, gradients.get(), 0);
    }
    return;
  }
  for (int f = t - 1; f >= 0; --f) {
    TBasicConnections *conn = network->priv_conns_index[t][f];
    if (!conn->IsConnected())
      continue;
    KASSERT_TEXT(fn != ActError, "fn != ActError");
    conn->Iterate2(visitor, gradients.get(), 0);
  }
}

void TTrainModule::ApplyUpdate(double learningRate, double momentum) {
  if (fastEpoch->UpdateWithoutVisitors(learningRate, momentum))
    return;
  TIterateObj2Update plain(learningRate);
  TIterateObj3UpdateMomentum withMomentum(learningRate, momentum);
  if (fastEpoch->Update(learningRate, momentum, plain, withMomentum))
    return;
  const int n = network->numLayers;
  for (int f = 0; f < n; ++f)
    for (int t = 0; t < n; ++t) {
      TBasicConnections *conn = network->priv_conns_index[t][f];
      if (!conn->IsConnected())
        continue;
      if (momentum != 0)
        conn->Iterate3(withMomentum, gradients.get(), changes.get(), 0);
      else
        conn->Iterate2(plain, gradients.get(), 0);
    }
}

void TTrainModule::PenaltyGradient(const TKQstructure *penalty, double p, double q,
                                   double learningRate) {
  if (penalty == nullptr)
    throw TException("Null penalty record", kNullPointerParameter, "TTrainModule::PenaltyGradient");
  std::unique_ptr<TIterateObj2> visitor;
  if (HeadIs(*penalty, "QUADPENALTY")) {
    const double k1 = learningRate * NumberOr(*penalty, "EPSILON1", 0.0) * p / q;
    const double k2 = learningRate * NumberOr(*penalty, "EPSILON2", 0.0) * p / q;
    const double beta = NumberOr(*penalty, "BETA", 1.0);
    visitor = std::make_unique<TIterateObj2CalcPenaltyTerm>(k1, k2, beta);
  } else if (HeadIs(*penalty, "LWF")) {
    const double a = NumberOr(*penalty, "FORGETTINGRATE", 0.0);
    // A zero step must change nothing; a / 0 would turn every gradient into inf or NaN.
    const double b = learningRate != 0 ? a / learningRate : 0.0;
    visitor = std::make_unique<TIterateObjLWFCalcPenaltyTerm>(a, b);
  } else {
    Refuse("Unknown WEIGHTPENALTY \"" + penalty->GetHead() + "\" (QUADPENALTY or LWF)",
           "TTrainModule::PenaltyGradient");
  }
  fastEpoch->BeforeGradientVisit();
  const int n = network->numLayers;
  for (int f = 0; f < n; ++f)
    for (int t = 0; t < n; ++t) {
      TBasicConnections *conn = network->priv_conns_index[t][f];
      if (conn->IsConnected() && Penalised(t, f))
        conn->Iterate2(*visitor, gradients.get(), 0);
    }
}

// ---- TBackpropModule

TBackpropModule::TBackpropModule(TBasicNetwork *network) : TTrainModule(network) {
  fastEpoch->Serve(typeid(TBackpropModule));
}

void TBackpropModule::UpdateWeights(TKQstructure *record) {
  double rate, momentum;
  if (CachedStepSettings(record, rate, momentum))
    ApplyUpdate(rate, momentum);
  else
    ApplyUpdate(NumberOr(*record, "LEARNINGRATE", kStepWhenAbsent),
                NumberOr(*record, "MOMENTUM", kStepWhenAbsent));
}

} // namespace kestrane
