// The classes a network file can name: one table per kind. A new network,
// layer or matrix class needs a row here and nothing else in the file code.

#include "FileHandler/NetworkFile.h"

#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TToConditionConnections.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoOutputLayer.h"

#include <strings.h>

#include <iterator>

namespace kestrane {

namespace {

std::string Str(long long n) { return std::to_string(n); }

template <class Network>
std::unique_ptr<TBasicNetwork> MakeNetwork(int layers, bool, std::string &) {
  return std::make_unique<Network>(layers);
}

std::unique_ptr<TBasicNetwork> MakeVemo(int layers, bool, std::string &why) {
  if (layers != 6) {
    why = std::string("A ") + TVemo::kTypeName + " network has 6 layers, not " + Str(layers);
    return nullptr;
  }
  return std::make_unique<TVemo>();
}

std::unique_ptr<TBasicNetwork> MakeMLP(int layers, bool bias, std::string &why) {
  // The perceptron counts its layers without the bias layer 0.
  if (layers < 1) {
    why = std::string("An ") + TMLPNetwork::kTypeName + " network needs at least one layer";
    return nullptr;
  }
  return std::make_unique<TMLPNetwork>(layers - 1, bias);
}

const NetworkKind kNetworkKinds[] = {
    {TBasicNetwork::kTypeName, MakeNetwork<TBasicNetwork>},
    {TConnectedNetwork::kTypeName, MakeNetwork<TConnectedNetwork>},
    {TVemo::kTypeName, MakeVemo},
    {TMLPNetwork::kTypeName, MakeMLP},
};

template <class Layer>
std::unique_ptr<TBasicLayer> MakeLayer(TBasicNetwork *net, int index, int count) {
  return std::make_unique<Layer>(net, index, count);
}

std::unique_ptr<TBasicLayer> MakeGainLayer(TBasicNetwork *net, int index, int count) {
  return std::make_unique<TGainLayer>(net, index, count, 1.0);
}

void WriteInputMF(FileTools &tools, std::ostream &out, TBasicLayer &layer) {
  tools.WriteInputMFSection(out, static_cast<TConditionLayer &>(layer));
}

void WriteOutputMF(FileTools &tools, std::ostream &out, TBasicLayer &layer) {
  tools.WriteOutputMFSection(out, static_cast<TVemoOutputLayer &>(layer));
}

const LayerKind kLayerKinds[] = {
    // name, make, evaluatesFunctions, gainNeurons, conditionNeurons, membership
    {TSimpleLayer::kTypeName, MakeLayer<TSimpleLayer>, true, false, false, nullptr, nullptr,
     nullptr},
    {TSimpleInputLayer::kTypeName, MakeLayer<TSimpleInputLayer>, false, false, false, nullptr,
     nullptr, nullptr},
    {TGainLayer::kTypeName, MakeGainLayer, true, true, false, nullptr, nullptr, nullptr},
    {TConditionLayer::kTypeName, MakeLayer<TConditionLayer>, true, false, true, "InputMF",
     "membership array missing in condition layer", WriteInputMF},
    {TVemoOutputLayer::kTypeName, MakeLayer<TVemoOutputLayer>, false, false, false, "OutputMF",
     "membership array missing in output layer", WriteOutputMF},
};

template <class Matrix>
std::unique_ptr<TBasicConnections> MakeMatrix(TBasicNetwork *net, int from, int to) {
  return std::make_unique<Matrix>(net, from, to);
}

std::string AnyLayers(const TBasicLayer &, const TBasicLayer &, int, const std::string &) {
  return std::string();
}

std::string ConditionMisfit(const TBasicLayer &from, const TBasicLayer &to, int fromIndex,
                            const std::string &pair) {
  const char *name = TToConditionConnections::kTypeName;
  auto *condition = dynamic_cast<const TConditionLayer *>(&to);
  if (condition == nullptr)
    return std::string(name) + " need a " + TConditionLayer::kTypeName + " layer as LayerTo, not " +
           to.GetLayerNType() + pair;
  if (condition->GetNumInputs() > from.numNeurons)
    return name + pair + ": the condition layer has " + Str(condition->GetNumInputs()) +
           " inputs, layer " + Str(fromIndex) + " only " + Str(from.numNeurons) + " neurons";
  return std::string();
}

std::string OutputMisfit(const TBasicLayer &from, const TBasicLayer &to, int fromIndex,
                         const std::string &pair) {
  const char *name = TToOutputConnections::kTypeName;
  auto *output = dynamic_cast<const TVemoOutputLayer *>(&to);
  if (output == nullptr)
    return std::string(name) + " need a " + TVemoOutputLayer::kTypeName +
           " layer as LayerTo, not " + to.GetLayerNType() + pair;
  if (output->GetTotalMF() != from.numNeurons)
    return name + pair + ": the output layer has " + Str(output->GetTotalMF()) +
           " output membership functions, layer " + Str(fromIndex) + " has " +
           Str(from.numNeurons) + " neurons";
  return std::string();
}

const MatrixKind kMatrixKinds[] = {
    // name, make, freezable, allArcs, fixedArcs, misfit
    {TConnectedConnections::kTypeName, MakeMatrix<TConnectedConnections>, false, true, false,
     AnyLayers},
    {TPrunedConnections::kTypeName, MakeMatrix<TPrunedConnections>, true, false, false, AnyLayers},
    {TToConditionConnections::kTypeName, MakeMatrix<TToConditionConnections>, true, false, true,
     ConditionMisfit},
    {TToOutputConnections::kTypeName, MakeMatrix<TToOutputConnections>, true, false, true,
     OutputMisfit},
};

template <class Row, size_t N>
const Row *Find(const Row (&table)[N], const char *name) {
  for (const Row &row : table)
    if (strcasecmp(row.name, name) == 0)
      return &row;
  return nullptr;
}

} // namespace

const NetworkKind *FindNetworkKind(const char *name) { return Find(kNetworkKinds, name); }
const LayerKind *FindLayerKind(const char *name) { return Find(kLayerKinds, name); }
const MatrixKind *FindMatrixKind(const char *name) { return Find(kMatrixKinds, name); }

} // namespace kestrane
