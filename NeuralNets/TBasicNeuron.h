#ifndef KESTRANE_NEURALNETS_TBASICNEURON_H
#define KESTRANE_NEURALNETS_TBASICNEURON_H

#include "NeuralNets/ActFunctions.h"

namespace kestrane {

class TBasicLayer;

// A neuron lives only inside its layer's neuron array; its activation lives in
// the layer's activation array.
class TBasicNeuron {
public:
  TBasicNeuron() = default;
  TBasicNeuron(const TBasicNeuron &) = default;
  TBasicNeuron &operator=(const TBasicNeuron &) = default;
  virtual ~TBasicNeuron() = default;

  virtual void Activate(double net);
  virtual int GetNumParameters() const;
  virtual void GetParameters(double *out) const;
  virtual void SetParameters(const double *in);
  virtual const char *GetParameterName(int i) const;
  virtual void CopyParameters(const TBasicNeuron &source);

  ActFunction GetActFunction() const { return actFunction; }
  // Also clears the layer's common function: the neurons may no longer agree.
  // Raises TException for a function this neuron cannot run (see CanRun).
  void SetActFunction(ActFunction function);
  // The gain functions read a TGainNeuron's gain and ActVemoCondition a
  // condition neuron's centres; other neurons cannot run them.
  virtual bool CanRun(ActFunction function) const {
    return !IsGainFunction(function) && function != ActVemoCondition;
  }
  // The TException CanRun's refusal raises.
  [[noreturn]] static void RefuseFunction(ActFunction function, const char *caller);

  int layerNum = 0;
  int index = 0;
  double *activation = nullptr; // element of the owning layer's activation array
  TBasicLayer *layer = nullptr;
  ActFunction actFunction = ActError;
};

class TGainNeuron : public TBasicNeuron {
public:
  int GetNumParameters() const override;
  void GetParameters(double *out) const override;
  void SetParameters(const double *in) override;
  const char *GetParameterName(int i) const override;
  void CopyParameters(const TBasicNeuron &source) override;
  bool CanRun(ActFunction function) const override { return function != ActVemoCondition; }

  double gain = 1.0;
};

} // namespace kestrane

#endif
