#include "NeuralNets/ActFunctions.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNeuron.h"

#include <cmath>
#include <cstring>

namespace kestrane {

namespace {

double GainOf(TBasicNeuron *neuron) { return static_cast<TGainNeuron *>(neuron)->gain; }

} // namespace

void ActError(TBasicNeuron *, double) { KASSERT_TEXT(false, "false"); }
void ActNull(TBasicNeuron *, double) { KASSERT_TEXT(false, "false"); }
void ActCog(TBasicNeuron *, double) { KASSERT_TEXT(false, "false"); }

void ActBias(TBasicNeuron *neuron, double) { *neuron->activation = 1.0; }

void ActLinear(TBasicNeuron *neuron, double net) { *neuron->activation = net; }

void ActSaturatedLinear(TBasicNeuron *neuron, double net) {
  double y;
  if (net <= 0.0)
    y = 0.0;
  else if (net >= 1.0)
    y = 1.0;
  else
    y = net;
  *neuron->activation = y;
}

void ActSigmoid(TBasicNeuron *neuron, double net) { *neuron->activation = SigmoidOf(net); }

void ActTanh(TBasicNeuron *neuron, double net) { *neuron->activation = std::tanh(net); }

void ActLinearGain(TBasicNeuron *neuron, double net) { *neuron->activation = GainOf(neuron) * net; }

void ActSigmoidGain(TBasicNeuron *neuron, double net) {
  *neuron->activation = 1.0 / (1.0 + std::exp(-GainOf(neuron) * net));
}

void ActTanhGain(TBasicNeuron *neuron, double net) {
  *neuron->activation = std::tanh(GainOf(neuron) * net);
}

bool IsGainFunction(ActFunction fn) {
  return fn == ActLinearGain || fn == ActSigmoidGain || fn == ActTanhGain;
}

// ---- TFnRegistry ----

TFnRegistry::TFnRegistry() : allocated(16), used(0) {
  entries.reserve(static_cast<size_t>(allocated));
}

TFnRegistry::~TFnRegistry() = default;

void TFnRegistry::RegisterBuiltins() {
  AddFunction(ActError, "error");
  AddFunction(ActNull, "null");
  AddFunction(ActBias, "bias");
  AddFunction(ActLinear, "linear");
  AddFunction(ActSaturatedLinear, "saturated-linear");
  AddFunction(ActSigmoid, "sigmoid");
  AddFunction(ActTanh, "tanh");
  AddFunction(ActLinearGain, "linear-gain");
  AddFunction(ActSigmoidGain, "sigmoid-gain");
  AddFunction(ActTanhGain, "tanh-gain");
  AddFunction(ActCog, "cog");
  AddFunction(ActVemoCondition, "Vemo-condition");
}

void TFnRegistry::AddFunction(ActFunction function, const char *p) {
  if (p == nullptr)
    throw TException("Null function name", kNullPointerParameter, "TFnRegistry::AddFunction");
  for (const Entry &entry : entries) {
    const Entry *pp = &entry;
    KASSERT_TEXT(strcasecmp(p, pp->name.get()) != 0, "strcasecmp(p,pp->name)!=0");
  }
  if (used == allocated) {
    allocated *= 2;
    entries.reserve(static_cast<size_t>(allocated));
  }
  const size_t length = std::strlen(p);
  Entry entry{std::make_unique<char[]>(length + 1), function};
  std::memcpy(entry.name.get(), p, length + 1);
  entries.push_back(std::move(entry));
  ++used;
}

ActFunction TFnRegistry::GetFunction(const char *name) const {
  if (name == nullptr)
    throw TException("Null function name", kNullPointerParameter, "TFnRegistry::GetFunction");
  for (int i = used - 1; i >= 0; --i)
    if (strcasecmp(entries[i].name.get(), name) == 0)
      return entries[i].function;
  return ActError;
}

const char *TFnRegistry::GetName(ActFunction function) const {
  for (int i = used - 1; i >= 0; --i)
    if (entries[i].function == function)
      return entries[i].name.get();
  return nullptr;
}

const char *TFnRegistry::GetEntryName(int i) const { return entries[i].name.get(); }

ActFunction TFnRegistry::GetEntryFunction(int i) const { return entries[i].function; }

} // namespace kestrane
