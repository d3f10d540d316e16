#ifndef KESTRANE_NEURALNETS_TERROROBJ_H
#define KESTRANE_NEURALNETS_TERROROBJ_H

namespace kestrane {

class TKQstructure;

// Error measure of one epoch: fed every pattern's targets and outputs, it
// reports one number, optionally including a weight penalty.
class TErrorObj {
public:
  explicit TErrorObj(int numOutputs) : numOutputs(numOutputs) {}
  // Virtual, so that an owner may release a measure through the base.
  virtual ~TErrorObj() = default;

  virtual void Reset() = 0;
  virtual void Accumulate(const double *targets, const double *outputs) = 0;
  virtual double Value() = 0;
  // Adds PenaltyTerm(n, weights, penalty, 1.0) to the measure.
  virtual void AddPenalty(int n, const double *weights, const TKQstructure *penalty) = 0;

  // The penalty of n weights. The record's head selects the kind: none or
  // "NONE" gives 0; "QUADPENALTY" (EPSILON1, EPSILON2, BETA) a weight
  // elimination plus decay term, scaled; "LWF" (LEARNINGRATE, FORGETTINGRATE)
  // the absolute-value penalty, unscaled. Any other head is an internal error.
  double PenaltyTerm(int n, const double *weights, const TKQstructure *penalty, double scale) const;

  int numOutputs;
  int numPatterns = 0;
};

// Root mean squared error over all outputs of all patterns.
class TErrorRMSObj : public TErrorObj {
public:
  explicit TErrorRMSObj(int numOutputs) : TErrorObj(numOutputs) {}

  void Reset() override;
  void Accumulate(const double *targets, const double *outputs) override;
  // sqrt(sum / outputs / patterns); 0.0 when no pattern (or no output) was
  // accumulated, whatever penalty was added.
  double Value() override;
  void AddPenalty(int n, const double *weights, const TKQstructure *penalty) override;

  double sum = 0.0;
};

// Summed cross-entropy of outputs in [0, 1].
class TErrorCrossEntropyObj : public TErrorObj {
public:
  explicit TErrorCrossEntropyObj(int numOutputs) : TErrorObj(numOutputs) {}

  void Reset() override;
  // An output of exactly 1.0 (or 0.0) adds 1e6 unless the target equals it
  // exactly (then 0), instead of taking the logarithm of 0.
  void Accumulate(const double *targets, const double *outputs) override;
  double Value() override { return sum; }
  void AddPenalty(int n, const double *weights, const TKQstructure *penalty) override;

  double sum = 0.0;
};

} // namespace kestrane

#endif
