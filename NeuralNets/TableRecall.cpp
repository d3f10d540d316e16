#include "NeuralNets/TableRecall.h"

#include "KQmessage/TException.h"

namespace kestrane {

Data &CheckRecallTable(const TBasicNetwork &network, Data *in, bool withTargets,
                       const char *function) {
  if (in == nullptr)
    throw TException("Null data pointer", kNullPointerParameter, function);
  // Missing inputs would reach the network as stale buffer values.
  if (in->PresentedInputs() < network.GetNumInputs())
    throw TException("Too few input columns for the network", kBadParameter, function);
  if (withTargets && in->PresentedOutputs() != network.GetNumOutputs())
    throw TException("Output columns do not match the network", kBadParameter, function);
  return *in;
}

} // namespace kestrane
