// The network ("weight") file: reader, writer, and the load/save wrappers.

#include "FileHandler/NetworkFile.h"

#include "FileHandler/ParseTools.h"
#include "FileHandler/SafeSave.h"
#include "FileHandler/TextFile.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TToConditionConnections.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoOutputLayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace kestrane {

namespace {

constexpr int kPrecision = 15;

bool Equals(const std::string &text, const char *word) {
  return strcasecmp(text.c_str(), word) == 0;
}

bool IsKeyword(const Statement &s, const char *word) {
  return s.kind == StmtKeyword && s.keyword && Equals(*s.keyword, word);
}

bool IsAssign(const Statement &s, const char *key) {
  return s.kind == StmtAssign && s.keyword && Equals(*s.keyword, key);
}

std::string Str(long long n) { return std::to_string(n); }

bool IsMarker(ActFunction fn) { return fn == ActError || fn == ActNull || fn == ActCog; }

// Input and defuzzifying layers never call their neurons' functions.
bool EvaluatesFunctions(const TBasicLayer &layer) {
  const char *type = layer.GetLayerNType();
  return strcasecmp(type, "Input") != 0 && strcasecmp(type, "Defuzzify") != 0;
}

// Why `layer` cannot run `fn`, or nullptr when it can.
const char *UnusableFunction(const TBasicLayer &layer, ActFunction fn) {
  const char *type = layer.GetLayerNType();
  if (IsMarker(fn) && layer.numNeurons > 0 && EvaluatesFunctions(layer))
    return "is a marker that cannot be evaluated";
  if (IsGainFunction(fn) && strcasecmp(type, "Gain") != 0)
    return "needs the neurons of a Gain layer";
  if (fn == ActVemoCondition && strcasecmp(type, "FuzzyCondition") != 0)
    return "needs the neurons of a FuzzyCondition layer";
  return nullptr;
}

enum class MatrixKind { FullyConnected, Pruneable, ToCondition, ToOutput };

// ---------------------------------------------------------------- reader

class NetworkReader {
public:
  NetworkReader(FileTools &tools, std::istream &in) : tools(tools), in(in) {}

  std::unique_ptr<TBasicNetwork> Read() {
    Statement s = tools.ReadStatement(nullptr, in);
    netBlock = tools.ExpectBlock(s, in, "NEURALNETWORK");
    s = tools.ReadStatement(nullptr, in);
    const std::string type = tools.ReadString(s, in, "NETWORKTYPE");
    s = tools.ReadStatement(nullptr, in);
    const std::string infoBlock = tools.ExpectBlock(s, in, "NETWORKINFORMATION");
    ReadInformation(infoBlock);
    CheckInformation();
    CreateNetwork(type);
    try {
      s = Next(netBlock);
      while (IsAssign(s, "LAYER"))
        s = ReadLayer(s);
      while (IsKeyword(s, "CONNECTIONLAYER"))
        s = ReadConnections(s);
      tools.ExpectEnd(s, in);
      s = tools.ReadStatement(nullptr, in);
      if (s.kind != StmtEnd) Fail("End Tag expected");
      // An unset slot would be a null layer in the network handed out.
      for (int i = 0; i < numLayers; ++i)
        RequireLayer(i);
    } catch (const TException &e) {
      // A layer or matrix refused what the file asked of it.
      net->FillUnsetLayers();
      throw FileTools::Error(e.GetMessage(), &in);
    } catch (...) {
      net->FillUnsetLayers();  // the destructor requires every layer slot set
      throw;
    }
    return std::move(net);
  }

private:
  struct LayerState {
    int index = 0;
    long count = -1;
    std::optional<std::string> type;
    std::optional<ActFunction> function;
    TBasicLayer *layer = nullptr;  // owned by the network once created
    std::vector<double> parameters;
    std::vector<char> parameterGiven;
  };

  struct MatrixState {
    TBasicConnections *matrix = nullptr;
    MatrixKind kind = MatrixKind::Pruneable;
    int numFrom = 0;
    int numTo = 0;
    const char *type = "";
    // FullyConnected only: the arcs any weight section of the block has given.
    std::vector<char> seen;
    bool weightsGiven = false;
  };

  [[noreturn]] void Fail(const std::string &message) { throw FileTools::Error(message, &in); }

  void RequireLayer(long i) {
    if (net->layers[i] == nullptr) Fail("Layer " + Str(i) + " not defined");
  }

  Statement Next(const std::string &block, bool bracketRead = false) {
    return tools.ReadStatement(block.c_str(), in, bracketRead);
  }

  // ---- information block

  void ReadInformation(const std::string &block) {
    Statement s = Next(block);
    while (s.kind == StmtAssign) {
      if (s.open) Fail("Too complicated statement");
      const long value = tools.ParseInteger(in, *s.value);
      const std::string &key = *s.keyword;
      if (Equals(key, "NUMBEROFLAYERS"))
        layersGiven = value;
      else if (Equals(key, "INPUTLAYER"))
        inputGiven = value;
      else if (Equals(key, "OUTPUTLAYER"))
        outputGiven = value;
      else if (Equals(key, "NUMBEROFINPUTS"))
        numInputs = value;
      else if (Equals(key, "NUMBEROFOUTPUTS"))
        numOutputs = value;
      else if (Equals(key, "BIASLAYER"))
        biasGiven = true;
      else
        Fail("Unknown keyword");
      s = Next(block);
    }
    tools.ExpectEnd(s, in);
  }

  void CheckInformation() {
    if (!layersGiven || *layersGiven < 0) Fail("Must specify number of layers");
    if (*layersGiven > netfile_limits::kMaxLayers)
      Fail("NumberOfLayers " + Str(*layersGiven) + " exceeds the limit of " +
           Str(netfile_limits::kMaxLayers));
    numLayers = static_cast<int>(*layersGiven);
    const long input = inputGiven.value_or(1);
    const long output = outputGiven.value_or(numLayers - 1);
    if (input < 0 || input >= numLayers)
      Fail("InputLayer " + Str(input) + " is not a layer of a network of " + Str(numLayers) +
           " layers");
    if (output < 0 || output >= numLayers)
      Fail("OutputLayer " + Str(output) + " is not a layer of a network of " + Str(numLayers) +
           " layers");
    inputLayer = static_cast<int>(input);
    outputLayer = static_cast<int>(output);
  }

  void CreateNetwork(const std::string &type) {
    if (Equals(type, "BASIC")) {
      net = std::make_unique<TBasicNetwork>(numLayers);
    } else if (Equals(type, "CONNECTED")) {
      net = std::make_unique<TConnectedNetwork>(numLayers);
    } else if (Equals(type, "VEMO")) {
      if (numLayers != 6)
        Fail("A Vemo network has 6 layers, not " + Str(numLayers));
      net = std::make_unique<TVemo>();
    } else if (Equals(type, "MLP")) {
      // The perceptron counts its layers without the bias layer 0.
      if (numLayers < 1) Fail("An MLP network needs at least one layer");
      net = std::make_unique<TMLPNetwork>(numLayers - 1, biasGiven);
    } else {
      Fail("Unknown network type");
    }
    net->inLayer = inputLayer;
    net->outLayer = outputLayer;
  }

  // ---- layer blocks

  ActFunction LookUpFunction(const std::string &name) {
    const ActFunction fn = net->registry->GetFunction(name.c_str());
    if (fn == ActError && !Equals(name, "error"))
      Fail("Unknown activation function \"" + name + "\"");
    return fn;
  }

  // Slot of the parameter `key` among those of `neuron`, or -1.
  static int FindParameter(const TBasicNeuron &neuron, int slots, const std::string &key) {
    const int n = std::min(slots, neuron.GetNumParameters());
    for (int i = 0; i < n; ++i)
      if (Equals(key, neuron.GetParameterName(i))) return i;
    return -1;
  }

  int ParameterSlot(LayerState &st, const TBasicNeuron *neuron, const std::string &key) {
    const int slot =
        neuron ? FindParameter(*neuron, static_cast<int>(st.parameters.size()), key) : -1;
    if (slot < 0)
      Fail("Layer " + Str(st.index) + ": the neurons of a " + st.layer->GetLayerNType() +
           " layer have no parameter \"" + key + "\"");
    return slot;
  }

  void HeadAssignment(LayerState &st, const Statement &s) {
    const std::string &key = *s.keyword;
    const std::string &value = *s.value;
    if (Equals(key, "LAYERTYPE")) {
      if (st.layer != nullptr && !Equals(value, st.type->c_str()))
        Fail("Layer " + Str(st.index) + ": LayerType changed after the layer was created");
      st.type = value;
    } else if (Equals(key, "NUMBEROFNEURONS")) {
      const long count = tools.ParseInteger(in, value);
      if (count < 0) Fail("Layer " + Str(st.index) + ": NumberOfNeurons must not be negative");
      if (count > netfile_limits::kMaxNeurons)
        Fail("Layer " + Str(st.index) + ": NumberOfNeurons " + Str(count) +
             " exceeds the limit of " + Str(netfile_limits::kMaxNeurons));
      if (st.layer != nullptr && count != st.count)
        Fail("Layer " + Str(st.index) + ": NumberOfNeurons changed after the layer was created");
      st.count = count;
    } else if (Equals(key, "ACTIVATIONFUNCTION")) {
      st.function = LookUpFunction(value);
    } else {
      if (st.layer == nullptr)
        Fail("Layer " + Str(st.index) + ": parameter \"" + key +
             "\" given before LayerType and NumberOfNeurons");
      // A layer without neurons has no parameters to name.
      const int slot =
          ParameterSlot(st, st.layer->numNeurons > 0 ? st.layer->GetNeuron(0) : nullptr, key);
      st.parameters[slot] = tools.ParseNumber(in, value);
      st.parameterGiven[slot] = 1;
    }
  }

  void CreateLayer(LayerState &st) {
    const int n = st.index;
    if (n == inputLayer && numInputs && *numInputs != st.count)
      Fail("wrong number inputs in header");
    if (n == outputLayer && numOutputs && *numOutputs != st.count)
      Fail("wrong number outputs in header");
    neuronsUsed += st.count;
    if (neuronsUsed > netfile_limits::kMaxNeurons)
      Fail("The network exceeds the limit of " + Str(netfile_limits::kMaxNeurons) + " neurons");
    const int count = static_cast<int>(st.count);
    const std::string &type = *st.type;
    TBasicLayer *layer = nullptr;
    if (Equals(type, "SIMPLE"))
      layer = new TSimpleLayer(net.get(), n, count);
    else if (Equals(type, "INPUT"))
      layer = new TSimpleInputLayer(net.get(), n, count);
    else if (Equals(type, "GAIN"))
      layer = new TGainLayer(net.get(), n, count, 1.0);
    else if (Equals(type, "FUZZYCONDITION"))
      layer = new TConditionLayer(net.get(), n, count);
    else if (Equals(type, "DEFUZZIFY"))
      layer = new TVemoOutputLayer(net.get(), n, count);
    else
      Fail("Unknown layer type");
    net->layers[n] = layer;
    st.layer = layer;
    int slots = 0;
    for (int i = 0; i < count; ++i)
      slots = std::max(slots, layer->GetNeuron(i)->GetNumParameters());
    st.parameters.assign(static_cast<size_t>(slots), 0.0);
    st.parameterGiven.assign(static_cast<size_t>(slots), 0);
  }

  Statement ReadLayer(const Statement &head) {
    if (head.open) Fail("Too complicated statement");
    const long index = tools.ParseInteger(in, *head.value);
    if (index < 0 || index >= numLayers)
      Fail("Layer " + Str(index) + " is not a layer of a network of " + Str(numLayers) +
           " layers");
    if (net->layers[index] != nullptr) Fail("Layer " + Str(index) + " defined twice");
    const std::string block = *head.keyword;
    LayerState st;
    st.index = static_cast<int>(index);

    Statement s = Next(block);
    for (;;) {
      if (IsKeyword(s, "ALL")) {
        if (!s.open) Fail("[ALL] is incomplete statment");
        s = Next(block, true);
        if (s.kind != StmtAssign) Fail("Required syntax is [ALL <keyword>=<val>]");
      } else if (s.kind != StmtAssign) {
        break;
      }
      if (s.open) Fail("Too complicated statement");
      HeadAssignment(st, s);
      if (st.count >= 0 && st.type && st.layer == nullptr) CreateLayer(st);
      s = Next(block);
    }
    if (st.layer == nullptr)
      Fail("Layer " + Str(st.index) + ": LayerType and NumberOfNeurons are both required");
    TBasicLayer &layer = *st.layer;
    if (st.function) layer.SetLayerActFunction(*st.function);

    const char *type = layer.GetLayerNType();
    if (strcasecmp(type, "FuzzyCondition") == 0) {
      if (!IsKeyword(s, "INPUTMF")) Fail("membership array missing in condition layer");
      tools.ReadMembershipSection(in, &layer, *s.keyword);
      s = Next(block);
    } else if (strcasecmp(type, "Defuzzify") == 0) {
      if (!IsKeyword(s, "OUTPUTMF")) Fail("membership array missing in output layer");
      tools.ReadMembershipSection(in, &layer, *s.keyword);
      s = Next(block);
    }

    if (!IsKeyword(s, "NEURONS")) {
      for (char given : st.parameterGiven)
        if (!given) Fail("Incomplete Layer information");
      if (!st.parameters.empty())
        for (int i = 0; i < layer.numNeurons; ++i)
          layer.GetNeuron(i)->SetParameters(st.parameters.data());
    } else {
      s = ReadNeurons(st, *s.keyword, block);
    }
    tools.ExpectEnd(s, in);
    CheckFunctions(layer);
    // The writer stores a bias layer only with its single neuron.
    if (layer.GetLayerActFunction() == ActBias && layer.numNeurons != 1)
      Fail("Layer " + Str(st.index) + ": a bias layer has exactly one neuron, not " +
           Str(layer.numNeurons));
    return Next(netBlock);
  }

  // Returns the statement after the neuron block.
  Statement ReadNeurons(LayerState &st, const std::string &block, const std::string &layerBlock) {
    TBasicLayer &layer = *st.layer;
    std::vector<char> given(static_cast<size_t>(layer.numNeurons), 0);
    Statement s = Next(block);
    while (IsAssign(s, "NEURON")) {
      const long i = tools.ParseInteger(in, *s.value);
      if (i < 0 || i >= layer.numNeurons)
        Fail("Layer " + Str(st.index) + ": neuron " + Str(i) + " is not in a layer of " +
             Str(layer.numNeurons) + " neurons");
      if (given[i]) Fail("repeated neuron");
      TBasicNeuron &neuron = *layer.GetNeuron(static_cast<int>(i));
      std::optional<ActFunction> function;
      bool open = s.open;
      while (open) {
        const Statement item = Next(block, true);
        if (item.kind != StmtAssign) Fail("Equals clause expected in neuron parameter");
        if (Equals(*item.keyword, "ACTIVATIONFUNCTION")) {
          function = LookUpFunction(*item.value);
        } else {
          const int slot = ParameterSlot(st, &neuron, *item.keyword);
          st.parameters[slot] = tools.ParseNumber(in, *item.value);
        }
        open = item.open;
      }
      if (!st.parameters.empty()) neuron.SetParameters(st.parameters.data());
      if (!st.function) {
        if (!function) Fail("No activation function defined");
        neuron.SetActFunction(*function);
      }
      given[i] = 1;
      s = Next(block);
    }
    tools.ExpectEnd(s, in);
    s = Next(layerBlock);
    for (char g : given)
      if (!g) Fail("Neuron not defined");
    return s;
  }

  void CheckFunctions(TBasicLayer &layer) {
    ActFunction last = nullptr;
    for (int i = 0; i < layer.numNeurons; ++i) {
      const ActFunction fn = layer.GetNeuron(i)->GetActFunction();
      if (fn == last) continue;
      last = fn;
      if (const char *why = UnusableFunction(layer, fn)) {
        const char *name = net->registry->GetName(fn);
        Fail("Layer " + Str(layer.layerNum) + ": activation function \"" +
             (name ? name : "?") + "\" " + why);
      }
    }
    // An empty layer's common function is never run, but a gain or condition
    // function on it would still be a contradiction in the file.
    if (layer.numNeurons == 0 && layer.commonActFunction != nullptr)
      if (const char *why = UnusableFunction(layer, layer.commonActFunction)) {
        const char *name = net->registry->GetName(layer.commonActFunction);
        Fail("Layer " + Str(layer.layerNum) + ": activation function \"" +
             (name ? name : "?") + "\" " + why);
      }
  }

  // ---- connection blocks

  Statement ReadConnections(const Statement &head) {
    const std::string block = *head.keyword;
    std::optional<long> from;
    std::optional<long> to;
    std::optional<std::string> type;
    Statement s = Next(block);
    while (s.kind == StmtAssign || IsKeyword(s, "ATTRIBUTES")) {
      if (s.kind == StmtKeyword) {
        for (bool open = s.open; open;)
          open = Next(block, true).open;
      } else {
        if (s.open) Fail("Too complicated statement");
        const std::string &key = *s.keyword;
        if (Equals(key, "LAYERFROM"))
          from = tools.ParseInteger(in, *s.value);
        else if (Equals(key, "LAYERTO"))
          to = tools.ParseInteger(in, *s.value);
        else if (Equals(key, "CONNECTIONTYPE"))
          type = *s.value;
        else
          Fail("Unknown keyword in connections");
      }
      s = Next(block);
    }
    if (!from || *from < 0 || !to || *to < 0 || !type)
      Fail("Insufficient information to construct layer");
    if (*from >= numLayers)
      Fail("LayerFrom " + Str(*from) + " is not a layer of a network of " + Str(numLayers) +
           " layers");
    if (*to >= numLayers)
      Fail("LayerTo " + Str(*to) + " is not a layer of a network of " + Str(numLayers) +
           " layers");
    RequireLayer(*from);
    RequireLayer(*to);
    MatrixState m;
    if (Equals(*type, "FULLYCONNECTED"))
      m.kind = MatrixKind::FullyConnected;
    else if (Equals(*type, "PRUNEABLE"))
      m.kind = MatrixKind::Pruneable;
    else if (Equals(*type, "ToConditionConnections"))
      m.kind = MatrixKind::ToCondition;
    else if (Equals(*type, "ToOutputConnections"))
      m.kind = MatrixKind::ToOutput;
    else
      Fail("Insufficient information to construct layer");
    CreateMatrix(m, static_cast<int>(*from), static_cast<int>(*to));

    while (IsKeyword(s, "MATRIX") || IsKeyword(s, "WEIGHTLIST")) {
      if (IsKeyword(s, "MATRIX"))
        ReadMatrix(m, s);
      else
        ReadWeightList(m, s);
      s = Next(block);
    }
    tools.ExpectEnd(s, in);
    // One section may complete what another began; a block without any
    // section keeps its zero weights.
    if (m.weightsGiven)
      for (size_t i = 0; i < m.seen.size(); ++i)
        if (!m.seen[i])
          Fail("A FullyConnected matrix lacks " +
               Arc(static_cast<long>(i / m.numTo), static_cast<long>(i % m.numTo)) +
               ": no weight section gives it");
    return Next(netBlock);
  }

  void CheckMatrixFits(const MatrixState &m, int from, int to) {
    TBasicLayer &fromLayer = *net->layers[from];
    TBasicLayer &toLayer = *net->layers[to];
    const std::string pair = " (layer " + Str(from) + " to layer " + Str(to) + ")";
    if (m.kind == MatrixKind::ToCondition) {
      auto *condition = dynamic_cast<TConditionLayer *>(&toLayer);
      if (condition == nullptr)
        Fail(std::string("ToConditionConnections need a FuzzyCondition layer as LayerTo, not ") +
             toLayer.GetLayerNType() + pair);
      if (condition->GetNumInputs() > fromLayer.numNeurons)
        Fail("ToConditionConnections" + pair + ": the condition layer has " +
             Str(condition->GetNumInputs()) + " inputs, layer " + Str(from) + " only " +
             Str(fromLayer.numNeurons) + " neurons");
    } else if (m.kind == MatrixKind::ToOutput) {
      auto *output = dynamic_cast<TVemoOutputLayer *>(&toLayer);
      if (output == nullptr)
        Fail(std::string("ToOutputConnections need a Defuzzify layer as LayerTo, not ") +
             toLayer.GetLayerNType() + pair);
      if (output->GetTotalMF() != fromLayer.numNeurons)
        Fail("ToOutputConnections" + pair + ": the output layer has " +
             Str(output->GetTotalMF()) + " output membership functions, layer " + Str(from) +
             " has " + Str(fromLayer.numNeurons) + " neurons");
    }
    const int64_t arcs = static_cast<int64_t>(fromLayer.numNeurons) * toLayer.numNeurons;
    arcsUsed += arcs;
    if (arcs > netfile_limits::kMaxArcs || arcsUsed > netfile_limits::kMaxArcs)
      Fail("Connections" + pair + " exceed the limit of " + Str(netfile_limits::kMaxArcs) +
           " arcs");
  }

  void CreateMatrix(MatrixState &m, int from, int to) {
    CheckMatrixFits(m, from, to);
    if (net->priv_conns_index[to][from]->IsConnected()) Fail("Connections already defined");
    TBasicConnections *matrix = nullptr;
    switch (m.kind) {
    case MatrixKind::FullyConnected: matrix = new TConnectedConnections(net.get(), from, to); break;
    case MatrixKind::Pruneable: matrix = new TPrunedConnections(net.get(), from, to); break;
    case MatrixKind::ToCondition: matrix = new TToConditionConnections(net.get(), from, to); break;
    case MatrixKind::ToOutput: matrix = new TToOutputConnections(net.get(), from, to); break;
    }
    net->ReplaceConnections(from, to, matrix);
    m.matrix = matrix;
    m.type = matrix->GetConnectionsNType();
    m.numFrom = net->layers[from]->numNeurons;
    m.numTo = net->layers[to]->numNeurons;
    if (m.kind == MatrixKind::FullyConnected)
      m.seen.assign(static_cast<size_t>(m.numFrom) * m.numTo, 0);
    if (strcasecmp(m.type, "FullyConnected") != 0)
      for (int j = 0; j < m.numFrom; ++j)
        for (int k = 0; k < m.numTo; ++k)
          matrix->RemoveArc(j, k);
  }

  static bool FixedArcs(const MatrixState &m) {
    return m.kind == MatrixKind::ToCondition || m.kind == MatrixKind::ToOutput;
  }

  std::string Arc(long j, long k) { return "arc From=" + Str(j) + " To=" + Str(k); }

  // The fuzzy matrices have exactly one arc per condition or action neuron.
  void RequireArcCanExist(const MatrixState &m, int j, int k) {
    if (FixedArcs(m) && !m.matrix->IsValid(j, k))
      Fail(std::string("A ") + m.type + " matrix has no " + Arc(j, k));
  }

  void ReadWeightList(MatrixState &m, const Statement &head) {
    const std::string block = *head.keyword;
    const bool full = m.kind == MatrixKind::FullyConnected;
    m.weightsGiven = true;
    Statement s = Next(block);
    while (s.kind == StmtKeyword || s.kind == StmtAssign) {
      std::optional<long> from;
      std::optional<long> to;
      double weight = 0.0;
      bool trainable = true;
      Statement item = std::move(s);
      for (;;) {
        const std::string key = item.keyword.value_or(std::string());
        if (item.kind == StmtAssign) {
          if (Equals(key, "FROM"))
            from = tools.ParseInteger(in, *item.value);
          else if (Equals(key, "TO"))
            to = tools.ParseInteger(in, *item.value);
          else if (Equals(key, "WEIGHT"))
            weight = tools.ParseNumber(in, *item.value);
          else
            Fail("Unknown keyword in weights list");
        } else if (Equals(key, "TRAINABLE")) {
          trainable = true;
        } else if (Equals(key, "UNTRAINABLE")) {
          trainable = false;
        } else {
          std::cout << key << std::endl;
          Fail("Unknown keyword in weights list");
        }
        if (!item.open) break;
        item = Next(block, true);
      }
      if (!from || !to) Fail("Insufficient information in weights list");
      if (*from < 0 || *from >= m.numFrom || *to < 0 || *to >= m.numTo)
        Fail("Weight list: " + Arc(*from, *to) + " lies outside layers of " + Str(m.numFrom) +
             " and " + Str(m.numTo) + " neurons");
      const int j = static_cast<int>(*from);
      const int k = static_cast<int>(*to);
      if (full && !trainable)
        Fail("A FullyConnected matrix cannot hold the UnTrainable " + Arc(j, k));
      m.matrix->AddArc(j, k);
      RequireArcCanExist(m, j, k);
      if (trainable)
        m.matrix->UnfreezeArc(j, k);
      else
        m.matrix->FreezeArc(j, k);
      *m.matrix->GetWeightPtr(j, k) = weight;
      if (full) m.seen[static_cast<size_t>(j) * m.numTo + k] = 1;
      s = Next(block);
    }
    tools.ExpectEnd(s, in);
  }

  void ReadMatrix(MatrixState &m, const Statement &head) {
    const std::string block = *head.keyword;
    enum Item { kWeights, kTrainableInfo };
    std::vector<Item> items;
    for (bool open = head.open; open;) {
      const Statement item = Next(block, true);
      if (item.kind != StmtKeyword) Fail("Keyword expected in matrix parameter");
      if (Equals(*item.keyword, "WEIGHTS"))
        items.push_back(kWeights);
      else if (Equals(*item.keyword, "TRAINABLEINFO"))
        items.push_back(kTrainableInfo);
      else
        Fail("Unknown matrix attribute");
      if (items.size() > 9) Fail("Too many items in a matrix head (at most nine)");
      open = item.open;
    }
    const bool full = m.kind == MatrixKind::FullyConnected;
    if (std::find(items.begin(), items.end(), kWeights) != items.end()) m.weightsGiven = true;
    TBasicConnections &matrix = *m.matrix;
    for (int j = 0; j < m.numFrom; ++j)
      for (int k = 0; k < m.numTo; ++k) {
        // The head items come in any order, and a weight creates its arc
        // trainable: the arc's T or F is applied after all its weights.
        std::optional<bool> frozen;
        std::optional<std::string> badInfo;
        for (const Item item : items) {
          const Statement token = Next(block);
          if (token.kind != StmtToken) Fail("Token Expected");
          const std::string &text = *token.keyword;
          if (item == kWeights) {
            if (text == "-") {
              if (full) Fail("A FullyConnected matrix cannot lack " + Arc(j, k) + " (\"-\")");
              if (FixedArcs(m) && matrix.IsValid(j, k))
                Fail(std::string("A ") + m.type + " matrix cannot lack " + Arc(j, k) +
                     " (\"-\")");
              matrix.RemoveArc(j, k);
            } else {
              const double weight = tools.ParseNumber(in, text);
              matrix.AddArc(j, k);
              RequireArcCanExist(m, j, k);
              *matrix.GetWeightPtr(j, k) = weight;
              if (full) m.seen[static_cast<size_t>(j) * m.numTo + k] = 1;
            }
          } else if (Equals(text, "T") || Equals(text, "F")) {
            frozen = Equals(text, "F");
            if (full && *frozen) Fail("A FullyConnected matrix cannot freeze " + Arc(j, k));
            RequireArcCanExist(m, j, k);
          } else {
            badInfo = text;
          }
        }
        if (badInfo && matrix.IsValid(j, k))
          Fail("TrainableInfo of the existing " + Arc(j, k) + " must be T or F, not \"" +
               *badInfo + "\"");
        if (frozen && *frozen)
          matrix.FreezeArc(j, k);
        else if (frozen)
          matrix.UnfreezeArc(j, k);
      }
    tools.ExpectEnd(Next(block), in);
  }

  FileTools &tools;
  std::istream &in;
  std::string netBlock;
  std::unique_ptr<TBasicNetwork> net;
  std::optional<long> layersGiven;
  std::optional<long> inputGiven;
  std::optional<long> outputGiven;
  std::optional<long> numInputs;
  std::optional<long> numOutputs;
  bool biasGiven = false;
  int numLayers = 0;
  int inputLayer = 0;
  int outputLayer = 0;
  int64_t neuronsUsed = 0;
  int64_t arcsUsed = 0;
};

// ---------------------------------------------------------------- writer

class NetworkWriter {
public:
  NetworkWriter(FileTools &tools, std::ostream &out, TBasicNetwork &net)
      : tools(tools), out(out), net(net) {}

  void Write() {
    tools.WriteFormatVersion(out);
    tools.WriteKeyword(out, "NeuralNetwork", true);
    tools.WriteString(out, "NetworkType", net.GetNetworkNType(), true);
    out << std::endl;
    WriteInformation();
    for (int i = 0; i < net.numLayers; ++i)
      WriteLayer(*net.layers[i]);
    for (int from = 0; from < net.numLayers; ++from)
      for (int to = 0; to < net.numLayers; ++to)
        if (net.priv_conns_index[to][from]->IsConnected())
          WriteConnections(*net.priv_conns_index[to][from], from, to);
    out << std::endl;
    tools.WriteEndTag(out, "NeuralNetwork");
  }

private:
  const char *NameOf(ActFunction fn) {
    const char *name = net.registry->GetName(fn);
    if (name == nullptr) throw FileTools::Error("Activation function without a name", &out);
    return name;
  }

  void WriteInformation() {
    tools.WriteKeyword(out, "NetworkInformation", true);
    tools.WriteInteger(out, "NumberOfLayers", net.numLayers, true);
    tools.WriteInteger(out, "InputLayer", net.inLayer, true);
    tools.WriteInteger(out, "OutputLayer", net.outLayer, true);
    tools.WriteInteger(out, "NumberOfInputs", net.layers[net.inLayer]->numNeurons, true);
    tools.WriteInteger(out, "NumberOfOutputs", net.layers[net.outLayer]->numNeurons, true);
    for (int i = 0; i < net.numLayers; ++i) {
      TBasicLayer &layer = *net.layers[i];
      if (layer.GetLayerActFunction() != ActBias) continue;
      if (layer.numNeurons != 1) throw FileTools::Error("Illegal number of bias nodes", &out);
      tools.WriteInteger(out, "BiasLayer", i, true);
    }
    tools.WriteEndTag(out, "NetworkInformation");
  }

  void WriteAll(const char *key, const char *value) {
    tools.OpenBracket(out, true);
    tools.WriteKeyword(out, "All", false);
    tools.WriteString(out, key, value, false);
    tools.CloseBracket(out, true, true);
  }

  void WriteLayer(TBasicLayer &layer) {
    out << std::endl;
    tools.WriteInteger(out, "Layer", layer.layerNum, true);
    tools.WriteString(out, "LayerType", layer.GetLayerNType(), true);
    tools.WriteInteger(out, "NumberOfNeurons", layer.numNeurons, true);
    const ActFunction common = layer.GetLayerActFunction();
    if (common != nullptr) WriteAll("ActivationFunction", NameOf(common));
    if (strcasecmp(layer.GetLayerNType(), "FuzzyCondition") == 0)
      tools.WriteInputMFSection(out, static_cast<TConditionLayer &>(layer));
    else if (strcasecmp(layer.GetLayerNType(), "Defuzzify") == 0)
      tools.WriteOutputMFSection(out, static_cast<TVemoOutputLayer &>(layer));
    if (layer.numNeurons > 0) WriteParameters(layer, common);
    tools.WriteEndTag(out, "Layer");  // also for an empty layer, or it would not read back
  }

  void WriteParameters(TBasicLayer &layer, ActFunction common) {
    const int n = layer.numNeurons;
    int slots = 0;
    for (int i = 0; i < n; ++i)
      slots = std::max(slots, layer.GetNeuron(i)->GetNumParameters());
    const TBasicNeuron &first = *layer.GetNeuron(0);
    std::vector<double> firstValues(static_cast<size_t>(slots), 0.0);
    std::vector<double> values(static_cast<size_t>(slots), 0.0);
    std::vector<char> shared(static_cast<size_t>(slots), 0);
    if (slots > 0) {
      first.GetParameters(firstValues.data());
      for (int p = 0; p < slots; ++p) shared[p] = p < first.GetNumParameters();
      for (int i = 1; i < n; ++i) {
        const TBasicNeuron &neuron = *layer.GetNeuron(i);
        neuron.GetParameters(values.data());
        for (int p = 0; p < slots; ++p)
          if (shared[p] && (p >= neuron.GetNumParameters() ||
                            strcasecmp(first.GetParameterName(p), neuron.GetParameterName(p)) != 0 ||
                            values[p] != firstValues[p]))
            shared[p] = 0;
      }
    }
    bool allShared = true;
    for (int p = 0; p < slots; ++p) {
      if (!shared[p]) {
        allShared = false;
        continue;
      }
      tools.OpenBracket(out, true);
      tools.WriteKeyword(out, "All", false);
      tools.WriteNumber(out, first.GetParameterName(p), firstValues[p], kPrecision, false);
      tools.CloseBracket(out, true, true);
    }
    if (common != nullptr && allShared) return;

    tools.WriteKeyword(out, "Neurons", true);
    for (int i = 0; i < n; ++i) {
      const TBasicNeuron &neuron = *layer.GetNeuron(i);
      tools.OpenBracket(out, true);
      tools.WriteInteger(out, "Neuron", i, false);
      if (common == nullptr)
        tools.WriteString(out, "ActivationFunction", NameOf(neuron.GetActFunction()), false);
      const int own = std::min(slots, neuron.GetNumParameters());
      if (own > 0) neuron.GetParameters(values.data());
      for (int p = 0; p < own; ++p)
        if (!shared[p])
          tools.WriteNumber(out, neuron.GetParameterName(p), values[p], kPrecision, false);
      tools.CloseBracket(out, true, true);
    }
    tools.WriteEndTag(out, "Neurons");
  }

  void WriteConnections(TBasicConnections &conn, int from, int to) {
    out << std::endl;
    tools.WriteKeyword(out, "ConnectionLayer", true);
    tools.WriteInteger(out, "LayerFrom", from, true);
    tools.WriteInteger(out, "LayerTo", to, true);
    const char *type = conn.GetConnectionsNType();
    tools.WriteString(out, "ConnectionType", type, true);
    const bool freezable = strcasecmp(type, "FullyConnected") != 0;
    tools.OpenBracket(out, true);
    tools.WriteKeyword(out, "Attributes", false);
    tools.WriteKeyword(out, freezable ? "Pruneable" : "UnPrunable", false);
    tools.WriteKeyword(out, freezable ? "Freezable" : "UnFreezable", false);
    tools.CloseBracket(out, true, true);

    const int f = net.layers[from]->numNeurons;
    const int t = net.layers[to]->numNeurons;
    TIterateObjCount counter;
    conn.Iterate(counter, FMaskExists);
    if (counter.count < 0.35 * static_cast<double>(static_cast<int64_t>(f) * t)) {
      tools.WriteKeyword(out, "WeightList", true);
      TIterateObjSaveWeights saver(out, tools, freezable, kPrecision);
      conn.Iterate(saver, FMaskExists);
      tools.WriteEndTag(out, "WeightList");
    } else {
      WriteMatrix(conn, f, t, freezable);
    }
    tools.WriteEndTag(out, "ConnectionLayer");
  }

  void WriteMatrix(TBasicConnections &conn, int f, int t, bool freezable) {
    tools.OpenBracket(out, true);
    tools.WriteKeyword(out, "Matrix", false);
    tools.WriteKeyword(out, "Weights", false);
    if (freezable) tools.WriteKeyword(out, "TrainableInfo", false);
    tools.CloseBracket(out, true, true);

    // Rows are assembled in one buffer: a stream insertion per cell is slow.
    std::string line = "/* To->";
    char cell[64];
    for (int k = 0; k < t; ++k) {
      const int width = (k == 0 ? 15 : 23) - (freezable ? 0 : 2);
      std::snprintf(cell, sizeof cell, "%*d", width, k);
      line += cell;
    }
    line += "  From */\n";
    out << line;
    for (int j = 0; j < f; ++j) {
      line.clear();
      for (int k = 0; k < t; ++k) {
        const bool exists = conn.IsValid(j, k);
        if (exists)
          std::snprintf(cell, sizeof cell, "%20.*g ", kPrecision, *conn.GetWeightPtr(j, k));
        else
          std::snprintf(cell, sizeof cell, "%20s ", "-");
        line += cell;
        if (freezable) line += !exists ? "- " : conn.IsTrainable(j, k) ? "T " : "F ";
      }
      std::snprintf(cell, sizeof cell, " /* %d */\n", j);
      line += cell;
      out << line;
    }
    tools.WriteEndTag(out, "Matrix");
  }

  FileTools &tools;
  std::ostream &out;
  TBasicNetwork &net;
};

} // namespace

void TIterateObjSaveWeights::Visit() {
  tools.OpenBracket(out, true);
  tools.WriteInteger(out, "From", fromNeuron, false);
  tools.WriteInteger(out, "To", toNeuron, false);
  tools.WriteNumber(out, "Weight", *weight, precision, false);
  if (freezable) tools.WriteKeyword(out, trainable ? "Trainable" : "UnTrainable", false);
  tools.CloseBracket(out, true, true);
}

std::unique_ptr<TBasicNetwork> FileTools::ReadNetwork(std::istream &in) {
  return NetworkReader(*this, in).Read();
}

std::unique_ptr<TBasicNetwork> FileTools::LoadNetwork(const char *fileName) {
  // Reading from memory is several times faster than character-wise from the file.
  std::string contents;
  if (!ReadTextFile(fileName, contents)) throw Error("Error on File Open");
  std::istringstream in(std::move(contents));
  in.imbue(std::locale::classic());
  try {
    return ReadNetwork(in);
  } catch (const Error &e) {
    throw Error(e.GetMessage());  // the stream it names ends here
  }
}

void FileTools::WriteNetwork(std::ostream &out, TBasicNetwork &network) {
  NetworkWriter(*this, out, network).Write();
  if (!out) throw Error("Error writing network: the output stream failed", &out);
}

void FileTools::SaveNetwork(const char *fileName, TBasicNetwork &network) {
  if (fileName == nullptr) throw Error("Error on File Open");
  SafeSave save(fileName);
  std::ostream &out = save.Stream();
  out.imbue(std::locale::classic());
  WriteNetwork(out, network);
  save.Commit();
}

} // namespace kestrane
