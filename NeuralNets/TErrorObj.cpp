#include "NeuralNets/TErrorObj.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"

#include <cmath>

namespace kestrane {

namespace {

// Penalty constant keyword of the record, or its default when absent.
double Constant(const TKQstructure &record, const char *keyword, double absent) {
  const TKQstructure *value = record.Find(keyword);
  return value ? TKQstructure::ParseNumber(value->GetHead().c_str()) : absent;
}

// Cost of an output sitting exactly on a bound of the logistic range.
constexpr double kSaturatedCost = 1000000.0;

} // namespace

double TErrorObj::PenaltyTerm(int n, const double *weights, const TKQstructure *penalty,
                              double scale) const {
  if (penalty == nullptr || strcasecmp(penalty->GetHead().c_str(), "NONE") == 0)
    return 0.0;
  const char *kind = penalty->GetHead().c_str();
  if (strcasecmp(kind, "QUADPENALTY") == 0) {
    const double epsilon1 = Constant(*penalty, "EPSILON1", 0.0);
    const double epsilon2 = Constant(*penalty, "EPSILON2", 0.0);
    const double beta = Constant(*penalty, "BETA", 1.0);
    double term = 0.0;
    for (int i = 0; i < n; ++i) {
      const double w2 = weights[i] * weights[i];
      term += scale * (epsilon1 * beta * w2 / (beta * w2 + 1) + epsilon2 * w2);
    }
    return term;
  }
  if (strcasecmp(kind, "LWF") == 0) {
    const double learningRate = Constant(*penalty, "LEARNINGRATE", 0.0);
    const double forgettingRate = Constant(*penalty, "FORGETTINGRATE", 0.0);
    double sumAbs = 0.0;
    for (int i = 0; i < n; ++i)
      sumAbs += std::fabs(weights[i]);
    return learningRate * forgettingRate * sumAbs;
  }
  KASSERT_TEXT(false, "false");
  return 0.0;
}

void TErrorRMSObj::Reset() {
  numPatterns = 0;
  sum = 0.0;
}

void TErrorRMSObj::Accumulate(const double *targets, const double *outputs) {
  for (int i = 0; i < numOutputs; ++i) {
    const double d = targets[i] - outputs[i];
    sum += d * d;
  }
  ++numPatterns;
}

double TErrorRMSObj::Value() {
  if (numPatterns == 0 || numOutputs == 0)
    return 0.0;
  return std::sqrt(sum / numOutputs / numPatterns);
}

void TErrorRMSObj::AddPenalty(int n, const double *weights, const TKQstructure *penalty) {
  sum += PenaltyTerm(n, weights, penalty, 1.0);
}

void TErrorCrossEntropyObj::Reset() {
  numPatterns = 0;
  sum = 0.0;
}

void TErrorCrossEntropyObj::Accumulate(const double *targets, const double *outputs) {
  for (int i = 0; i < numOutputs; ++i) {
    const double t = targets[i];
    const double o = outputs[i];
    if (o == 1.0)
      sum += t == 1.0 ? 0.0 : kSaturatedCost;
    else if (o == 0.0)
      sum += t == 0.0 ? 0.0 : kSaturatedCost;
    else
      sum += -t * std::log(o) - (1 - t) * std::log(1 - o);
  }
  ++numPatterns;
}

void TErrorCrossEntropyObj::AddPenalty(int n, const double *weights, const TKQstructure *penalty) {
  sum += PenaltyTerm(n, weights, penalty, 1.0);
}

} // namespace kestrane
