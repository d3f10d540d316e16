#ifndef KESTRANE_NEURALNETS_TTRAINMODULE_H
#define KESTRANE_NEURALNETS_TTRAINMODULE_H

// Training of a layered network on a data table: the epoch loop, the forward
// and backward pass, gradient accumulation, weight penalties, and (in
// TBackpropModule) gradient descent with momentum.

#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TIterateObj.h"

#include <functional>
#include <memory>
#include <vector>

namespace kestrane {

class Data;
class TErrorObj;
class TFastEpoch;
class TKQstructure;

// Settings come in a parameter record (keywords compared ignoring case):
//   THRESHOLD      Train stops once an epoch's error is below it (default 0)
//   BATCH          TRUE: one update per epoch; anything else: one per pattern
//   ERRORFUNCTION  MEANSQUAREDERROR (default) or CROSSENTROPY (which needs a
//                  sigmoid output layer where the pattern step passes error
//                  through it)
//   LEARNINGRATE   the step (default 0); scales the penalty slopes (default 1.0)
//   MOMENTUM       default 0
//   WEIGHTPENALTY  (NONE | QUADPENALTY :EPSILON1 :EPSILON2 :BETA
//                        | LWF :LEARNINGRATE :FORGETTINGRATE);
//                  a leaf NONE is stored in the record when it is absent.
class TTrainModule {
public:
  // The network is lent and must outlive the module. Both stores are
  // structural copies of it with every trainable weight zeroed.
  explicit TTrainModule(TBasicNetwork *network);
  TTrainModule(const TTrainModule &) = delete;
  TTrainModule &operator=(const TTrainModule &) = delete;
  virtual ~TTrainModule();

  // Runs up to `epochs` epochs; when an epoch's error falls below THRESHOLD,
  // epochs becomes the number completed before it. Returns the last error
  // (0.0 when no epoch ran). Raises TException, before anything changes, when
  // the network's shape changed since the module was made (see CheckShape;
  // make a new module for the new shape).
  virtual double Train(Data *table, TKQstructure *record, int &epochs);
  // Called by Train with the error of every epoch (keep it cheap); none by default.
  std::function<void(double)> epochDone;
  virtual void UpdateWeights(TKQstructure *record);
  // One pass over every row slot of the table. A table without data rows
  // trains nothing and gives 0.0. Raises TException, before anything changes,
  // when the table's rows do not fit the network's input and output layers,
  // on an unknown ERRORFUNCTION word or WEIGHTPENALTY head, or on a shape
  // change as in Train.
  virtual double TrainEpoch(Data *table, TKQstructure *record);
  virtual void ComputeGradient(const double *inputs, const double *targets, bool crossEntropy,
                               TErrorObj *measure);
  virtual void ApplyUpdate(double learningRate, double momentum);
  // LayerBackprop of every layer, last to first.
  virtual void BackpropagateDeltas(bool crossEntropy);

  // Zeroes every neuron value (delta) of the gradient store.
  void ClearDeltas();
  // Forward pass; the measure (if any) gets the pattern; the output deltas
  // become output - target.
  void ForwardAndOutputDeltas(const double *inputs, const double *targets, TErrorObj *measure);
  // Applies layer t's slope to its deltas, then passes them down the
  // trainable arcs of every real matrix into t, collecting the arc gradients.
  void LayerBackprop(int t, bool crossEntropy);
  // Adds the slope of the weight penalty to the gradients; p / q is the
  // share of the epoch's patterns that the coming step covers.
  void PenaltyGradient(const TKQstructure *penalty, double p, double q, double learningRate);

  TBasicNetwork *network;                   // lent
  std::unique_ptr<TBasicNetwork> changes;   // last momentum step per arc
  std::unique_ptr<TBasicNetwork> gradients; // gradient per arc, delta per neuron

  // Whether TrainEpoch takes the fast path for this object (see TFastEpoch::Serve).
  bool TakesFastPath() const;

protected:
  // Training never changes this matrix (the membership centres of a fuzzy
  // network): the weight penalty neither pulls its weights nor counts them.
  void ExemptFromPenalty(int fromLayer, int toLayer);
  // The pattern step passes error through the output layer's slope, so
  // cross-entropy needs a sigmoid there.
  bool outputSlopeUsed = true;

  // The fast path of the epoch. A class whose pattern step it knows declares
  // itself in its constructor: fastEpoch->Serve(typeid(TheClass)).
  std::unique_ptr<TFastEpoch> fastEpoch;
  // During a fast epoch: the step settings read once for the epoch's record;
  // false when they must be read (and rejected) where the step happens.
  bool CachedStepSettings(const TKQstructure *record, double &rate, double &momentum) const;

private:
  bool Penalised(int t, int f) const {
    return exempt.empty() || !exempt[static_cast<size_t>(t) * network->numLayers + f];
  }
  // The trainable weights the penalty counts, in the network's matrix order.
  std::vector<double> PenalisedWeights();
  // Raises TException when the stores no longer fit the network: a layer,
  // neuron or matrix added or removed, or an arc added or unfrozen, since the
  // module was made. Arcs frozen or removed since are harmless.
  void CheckShape(const char *function);

  std::vector<double> outputs; // forward-pass output of the current pattern
  std::vector<char> exempt;    // [t * numLayers + f]; empty: every matrix penalised
  bool shapeChecked = false;   // by the Train call now running
};

// Gradient descent: w -= LEARNINGRATE * g, or with MOMENTUM
// d = -LEARNINGRATE * g + MOMENTUM * d, w += d.
class TBackpropModule : public TTrainModule {
public:
  explicit TBackpropModule(TBasicNetwork *network);
  ~TBackpropModule() override = default;

  void UpdateWeights(TKQstructure *record) override;
};

// ---- training visitors; network 1 is the trained network, network 2 the
// gradient store, network 3 the change store.

// Passes the to-neuron's delta back to the from-neuron and collects the gradient.
class TIterateObj2ErrorsAndDeltas : public TIterateObj2 {
public:
  void Visit() override;
};

class TIterateObj2Update : public TIterateObj2 {
public:
  explicit TIterateObj2Update(double learningRate) : learningRate(learningRate) {}
  void Visit() override;
  double learningRate;
};

class TIterateObj3UpdateMomentum : public TIterateObj3 {
public:
  TIterateObj3UpdateMomentum(double learningRate, double momentum)
      : learningRate(learningRate), momentum(momentum) {}
  void Visit() override;
  double learningRate;
  double momentum;
};

// Slope of the weight elimination and decay penalty.
class TIterateObj2CalcPenaltyTerm : public TIterateObj2 {
public:
  TIterateObj2CalcPenaltyTerm(double k1, double k2, double beta) : k1(k1), k2(k2), beta(beta) {}
  void Visit() override;
  double k1;
  double k2;
  double beta;
};

// Slope of the learning-with-forgetting penalty: sign(w) * a * b.
class TIterateObjLWFCalcPenaltyTerm : public TIterateObj2 {
public:
  TIterateObjLWFCalcPenaltyTerm(double a, double b) : a(a), b(b) {}
  void Visit() override;
  double a;
  double b;
};

} // namespace kestrane

#endif
