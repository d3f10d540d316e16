#ifndef KESTRANE_NEURALNETS_ACTFUNCTIONS_H
#define KESTRANE_NEURALNETS_ACTFUNCTIONS_H

#include "NeuralNets/ExpOf.h"

#include <memory>
#include <vector>

namespace kestrane {

class TBasicNeuron;

// An activation function stores the neuron's activation for a net input in the
// neuron's activation slot. Functions are told apart by their address.
using ActFunction = void (*)(TBasicNeuron *neuron, double net);

// Markers: never evaluated (their bodies stop with an assertion).
void ActError(TBasicNeuron *neuron, double net);
void ActNull(TBasicNeuron *neuron, double net);
void ActCog(TBasicNeuron *neuron, double net);

void ActBias(TBasicNeuron *neuron, double net);
void ActLinear(TBasicNeuron *neuron, double net);
void ActSaturatedLinear(TBasicNeuron *neuron, double net);
void ActSigmoid(TBasicNeuron *neuron, double net);
// The value ActSigmoid stores, for layers that apply it without the call.
// exp(500) is still finite; below that the guard keeps the value positive.
inline double SigmoidOf(double net) { return net < -500.0 ? 1e-300 : 1.0 / (1.0 + ExpOf(-net)); }
void ActTanh(TBasicNeuron *neuron, double net);
// The gain variants expect a TGainNeuron.
void ActLinearGain(TBasicNeuron *neuron, double net);
void ActSigmoidGain(TBasicNeuron *neuron, double net);
void ActTanhGain(TBasicNeuron *neuron, double net);
bool IsGainFunction(ActFunction fn);
// Expects a TConditionNeuron: triangular membership between the neighbours'
// centres. Defined beside that neuron (Vemo/TConditionNeuron.cpp); it is a
// built-in here only by name and address, as network files of any kind may name it.
void ActVemoCondition(TBasicNeuron *neuron, double net);

// Binds activation functions to names; every network owns one.
class TFnRegistry {
public:
  TFnRegistry();
  TFnRegistry(const TFnRegistry &) = delete;
  TFnRegistry &operator=(const TFnRegistry &) = delete;
  virtual ~TFnRegistry();

  // Adds the twelve built-in functions in their fixed order.
  virtual void RegisterBuiltins();

  // The name must not be registered yet (compared case-insensitively).
  void AddFunction(ActFunction function, const char *name);
  // ActError when no entry bears the name.
  ActFunction GetFunction(const char *name) const;
  // nullptr when no entry holds the function; the text belongs to the registry.
  const char *GetName(ActFunction function) const;

  int GetAllocated() const { return allocated; }
  int GetUsed() const { return used; }
  // Entry i in the order of registration (0 <= i < GetUsed()).
  const char *GetEntryName(int i) const;
  ActFunction GetEntryFunction(int i) const;

private:
  struct Entry {
    std::unique_ptr<char[]> name; // stays put when the table grows
    ActFunction function;
  };
  std::vector<Entry> entries;
  int allocated;
  int used;
};

} // namespace kestrane

#endif
