#include "Vemo/TVemoOutputLayer.h"

#include "KQmessage/Diagnostics.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TToOutputConnections.h"

#include <algorithm>

namespace kestrane {

namespace {

constexpr const char *kPropagate = "TVemoOutputLayer::Propagate";

// True for 0 and for NaN: a sum that is not a number yields output 0.
bool ZeroOrNaN(double x) { return !(x < 0.0 || x > 0.0); }

} // namespace

TVemoOutputLayer::TVemoOutputLayer(TBasicNetwork *network, int layerNum, int numNeurons)
    : TSimpleLayer(network, layerNum, numNeurons),
      numerator(static_cast<size_t>(std::max(numNeurons, 0)), 0.0),
      denominator(static_cast<size_t>(std::max(numNeurons, 0)), 0.0) {}

void TVemoOutputLayer::SetOutputMFCounts(int total, const int *counts) {
  const int outputs = std::max(numNeurons, 0);
  if (outputs > 0 && counts == nullptr)
    throw TException("Missing membership-function counts", kBadParameter,
                     "TVemoOutputLayer::SetOutputMFCounts");
  totalMF = total;
  mfCounts.assign(counts, counts + outputs);
  actionOutput.clear();
  firstOfOutput.assign(static_cast<size_t>(outputs), 0);
  for (int o = 0; o < outputs; ++o) {
    firstOfOutput[o] = static_cast<int>(actionOutput.size());
    if (mfCounts[o] > 0)
      actionOutput.insert(actionOutput.end(), static_cast<size_t>(mfCounts[o]), o);
  }
}

void TVemoOutputLayer::Propagate(const double *) {
  const TBasicLayer *action = network->layers[layerNum - 1];
  TBasicConnections *matrix = network->priv_conns_index[layerNum][layerNum - 1];
  const int A = action->numNeurons;
  const int O = numNeurons;
  // Structures read from a file may disagree; refuse rather than read outside them.
  auto *centres = CentresOf(matrix);
  if (A > GetNumMapped() || (centres != nullptr && A > centres->NumCentres()) ||
      (centres == nullptr && !matrix->IsConnected()))
    throw TException("Output layer does not match the action layer", kBadParameter, kPropagate);
  if (numerator.size() != static_cast<size_t>(O)) {
    numerator.assign(static_cast<size_t>(O), 0.0);
    denominator.assign(static_cast<size_t>(O), 0.0);
  }

  double *num = numerator.data();
  double *den = denominator.data();
  std::fill(num, num + O, 0.0);
  std::fill(den, den + O, 0.0);
  const double *a = action->activations.data();
  const int *outputOf = actionOutput.data();
  if (centres != nullptr) {
    const double *w = centres->weights.data();
    for (int k = 0; k < A; ++k) {
      const int o = outputOf[k];
      num[o] += a[k] * w[k];
      den[o] += a[k];
    }
  } else {
    for (int k = 0; k < A; ++k) {
      const int o = outputOf[k];
      num[o] += a[k] * *matrix->GetWeightPtr(k, o);
      den[o] += a[k];
    }
  }

  for (int o = 0; o < O; ++o) {
    double y;
    if (ZeroOrNaN(num[o]) || ZeroOrNaN(den[o]))
      y = 0.0;
    else
      y = num[o] / den[o];
    const double ActActivation = y;
    if (!((ActActivation >= 0) && (ActActivation <= 1))) {
      Diagnose(DiagnosticKind::kOutput, StreamText(y));
      throw TException("Defuzzified output outside [0, 1]", kBadParameter, kPropagate);
    }
    activations[o] = y;
  }
}

TBasicLayer *TVemoOutputLayer::Clone(TBasicNetwork *owner) const {
  auto *copy = new TVemoOutputLayer(owner, layerNum, numNeurons);
  if (static_cast<int>(mfCounts.size()) == numNeurons)
    copy->SetOutputMFCounts(totalMF, mfCounts.data());
  CopyBaseStateInto(*copy);
  CloneNeuronsInto(nodes, copy->nodes, *copy);
  return copy;
}

} // namespace kestrane
