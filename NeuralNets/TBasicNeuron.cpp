#include "NeuralNets/TBasicNeuron.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicLayer.h"

namespace kestrane {

void TBasicNeuron::Activate(double net) { actFunction(this, net); }

int TBasicNeuron::GetNumParameters() const { return 0; }

void TBasicNeuron::GetParameters(double *) const {}

void TBasicNeuron::SetParameters(const double *) {}

const char *TBasicNeuron::GetParameterName(int) const {
  KASSERT_TEXT(false, "false");
  return nullptr;
}

void TBasicNeuron::CopyParameters(const TBasicNeuron &) {}

void TBasicNeuron::RefuseFunction(ActFunction function, const char *caller) {
  throw TException(function == ActVemoCondition
                       ? "Vemo-condition needs the neurons of a FuzzyCondition layer"
                       : "A gain function needs the neurons of a Gain layer",
                   kBadParameter, caller);
}

void TBasicNeuron::SetActFunction(ActFunction function) {
  if (!CanRun(function))
    RefuseFunction(function, "TBasicNeuron::SetActFunction");
  actFunction = function;
  if (layer != nullptr)
    layer->commonActFunction = nullptr;
}

int TGainNeuron::GetNumParameters() const { return 1; }

void TGainNeuron::GetParameters(double *out) const { out[0] = gain; }

void TGainNeuron::SetParameters(const double *in) { gain = in[0]; }

const char *TGainNeuron::GetParameterName(int i) const {
  KASSERT_TEXT(i == 0, "i==0");
  return "Gain";
}

// The layer copies the gain itself.
void TGainNeuron::CopyParameters(const TBasicNeuron &) {}

} // namespace kestrane
