// The network ("weight") file reader and the load wrapper.

#include "FileHandler/NetworkFile.h"

#include "FileHandler/ParseTools.h"
#include "FileHandler/TextFile.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/QuotedField.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TConditionLayer.h"

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
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace kestrane {

namespace {

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

// Why a layer of `kind` with `numNeurons` neurons cannot run `fn`, or an empty text.
std::string UnusableFunction(const LayerKind &kind, int numNeurons, ActFunction fn) {
  if (IsMarker(fn) && numNeurons > 0 && kind.evaluatesFunctions)
    return "is a marker that cannot be evaluated";
  if (IsGainFunction(fn) && !kind.gainNeurons)
    return std::string("needs the neurons of a ") + TGainLayer::kTypeName + " layer";
  if (fn == ActVemoCondition && !kind.conditionNeurons)
    return std::string("needs the neurons of a ") + TConditionLayer::kTypeName + " layer";
  return std::string();
}

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
      if (s.kind != StmtEnd)
        Fail("End Tag expected");
      // An unset slot would be a null layer in the network handed out.
      for (int i = 0; i < numLayers; ++i)
        RequireLayer(i);
    } catch (const TException &e) {
      // A layer or matrix refused what the file asked of it.
      net->FillUnsetLayers();
      throw FileTools::Error(e.GetMessage(), &in);
    } catch (...) {
      net->FillUnsetLayers(); // the destructor requires every layer slot set
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
    const LayerKind *kind = nullptr;
    TBasicLayer *layer = nullptr; // owned by the network once created
    std::vector<double> parameters;
    std::vector<char> parameterGiven;
  };

  struct MatrixState {
    TBasicConnections *matrix = nullptr; // owned by the network once created
    const MatrixKind *kind = nullptr;
    int numFrom = 0;
    int numTo = 0;
    const char *type = "";
    // Matrices of all arcs only: the arcs any weight section of the block has given.
    std::vector<char> seen;
    bool weightsGiven = false;
  };

  [[noreturn]] void Fail(const std::string &message) { throw FileTools::Error(message, &in); }

  void RequireLayer(long i) {
    if (net->layers[i] == nullptr)
      Fail("Layer " + Str(i) + " not defined");
  }

  Statement Next(const std::string &block, bool bracketRead = false) {
    return tools.ReadStatement(block.c_str(), in, bracketRead);
  }

  // ---- information block

  void ReadInformation(const std::string &block) {
    Statement s = Next(block);
    while (s.kind == StmtAssign) {
      if (s.open)
        Fail("Too complicated statement");
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
    if (!layersGiven || *layersGiven < 0)
      Fail("Must specify number of layers");
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
    const NetworkKind *kind = FindNetworkKind(type.c_str());
    if (kind == nullptr)
      Fail("Unknown network type");
    std::string why;
    net = kind->make(numLayers, biasGiven, why);
    if (net == nullptr)
      Fail(why);
    net->inLayer = inputLayer;
    net->outLayer = outputLayer;
  }

  // ---- layer blocks

  ActFunction LookUpFunction(const std::string &name) {
    const ActFunction fn = net->registry->GetFunction(name.c_str());
    if (fn == ActError && !Equals(name, "error"))
      Fail("Unknown activation function " + QuotedField(name));
    return fn;
  }

  // Slot of the parameter `key` among those of `neuron`, or -1.
  static int FindParameter(const TBasicNeuron &neuron, int slots, const std::string &key) {
    const int n = std::min(slots, neuron.GetNumParameters());
    for (int i = 0; i < n; ++i)
      if (Equals(key, neuron.GetParameterName(i)))
        return i;
    return -1;
  }

  int ParameterSlot(LayerState &st, const TBasicNeuron *neuron, const std::string &key) {
    const int slot =
        neuron ? FindParameter(*neuron, static_cast<int>(st.parameters.size()), key) : -1;
    if (slot < 0)
      Fail("Layer " + Str(st.index) + ": the neurons of a " + st.layer->GetLayerNType() +
           " layer have no parameter " + QuotedField(key));
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
      if (count < 0)
        Fail("Layer " + Str(st.index) + ": NumberOfNeurons must not be negative");
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
        Fail("Layer " + Str(st.index) + ": parameter " + QuotedField(key) +
             " given before LayerType and NumberOfNeurons");
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
    const LayerKind *kind = FindLayerKind(st.type->c_str());
    if (kind == nullptr)
      Fail("Unknown layer type");
    TBasicLayer *layer = kind->make(net.get(), n, count).release();
    net->layers[n] = layer;
    st.kind = kind;
    st.layer = layer;
    int slots = 0;
    for (int i = 0; i < count; ++i)
      slots = std::max(slots, layer->GetNeuron(i)->GetNumParameters());
    st.parameters.assign(static_cast<size_t>(slots), 0.0);
    st.parameterGiven.assign(static_cast<size_t>(slots), 0);
  }

  Statement ReadLayer(const Statement &head) {
    if (head.open)
      Fail("Too complicated statement");
    const long index = tools.ParseInteger(in, *head.value);
    if (index < 0 || index >= numLayers)
      Fail("Layer " + Str(index) + " is not a layer of a network of " + Str(numLayers) + " layers");
    if (net->layers[index] != nullptr)
      Fail("Layer " + Str(index) + " defined twice");
    const std::string block = *head.keyword;
    LayerState st;
    st.index = static_cast<int>(index);

    Statement s = Next(block);
    for (;;) {
      if (IsKeyword(s, "ALL")) {
        if (!s.open)
          Fail("[ALL] is incomplete statment");
        s = Next(block, true);
        if (s.kind != StmtAssign)
          Fail("Required syntax is [ALL <keyword>=<val>]");
      } else if (s.kind != StmtAssign) {
        break;
      }
      if (s.open)
        Fail("Too complicated statement");
      HeadAssignment(st, s);
      if (st.count >= 0 && st.type && st.layer == nullptr)
        CreateLayer(st);
      s = Next(block);
    }
    if (st.layer == nullptr)
      Fail("Layer " + Str(st.index) + ": LayerType and NumberOfNeurons are both required");
    TBasicLayer &layer = *st.layer;
    if (st.function)
      layer.SetLayerActFunction(*st.function);

    if (const char *section = st.kind->membershipSection) {
      if (!IsKeyword(s, section))
        Fail(st.kind->membershipMissing);
      tools.ReadMembershipSection(in, &layer, *s.keyword);
      s = Next(block);
    }

    if (!IsKeyword(s, "NEURONS")) {
      for (char given : st.parameterGiven)
        if (!given)
          Fail("Incomplete Layer information");
      if (!st.parameters.empty())
        for (int i = 0; i < layer.numNeurons; ++i)
          layer.GetNeuron(i)->SetParameters(st.parameters.data());
    } else {
      s = ReadNeurons(st, *s.keyword, block);
    }
    tools.ExpectEnd(s, in);
    CheckFunctions(*st.kind, layer);
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
      if (given[i])
        Fail("repeated neuron");
      TBasicNeuron &neuron = *layer.GetNeuron(static_cast<int>(i));
      std::optional<ActFunction> function;
      bool open = s.open;
      while (open) {
        const Statement item = Next(block, true);
        if (item.kind != StmtAssign)
          Fail("Equals clause expected in neuron parameter");
        if (Equals(*item.keyword, "ACTIVATIONFUNCTION")) {
          function = LookUpFunction(*item.value);
        } else {
          const int slot = ParameterSlot(st, &neuron, *item.keyword);
          st.parameters[slot] = tools.ParseNumber(in, *item.value);
        }
        open = item.open;
      }
      if (!st.parameters.empty())
        neuron.SetParameters(st.parameters.data());
      if (!st.function) {
        if (!function)
          Fail("No activation function defined");
        neuron.SetActFunction(*function);
      }
      given[i] = 1;
      s = Next(block);
    }
    tools.ExpectEnd(s, in);
    s = Next(layerBlock);
    for (char g : given)
      if (!g)
        Fail("Neuron not defined");
    return s;
  }

  void CheckFunction(const LayerKind &kind, TBasicLayer &layer, ActFunction fn) {
    const std::string why = UnusableFunction(kind, layer.numNeurons, fn);
    if (why.empty())
      return;
    const char *name = net->registry->GetName(fn);
    Fail("Layer " + Str(layer.layerNum) + ": activation function \"" + (name ? name : "?") + "\" " +
         why);
  }

  void CheckFunctions(const LayerKind &kind, TBasicLayer &layer) {
    ActFunction last = nullptr;
    for (int i = 0; i < layer.numNeurons; ++i) {
      const ActFunction fn = layer.GetNeuron(i)->GetActFunction();
      if (fn == last)
        continue;
      last = fn;
      CheckFunction(kind, layer, fn);
    }
    // An empty layer's common function is never run, but a gain or condition
    // function on it would still be a contradiction in the file.
    if (layer.numNeurons == 0 && layer.commonActFunction != nullptr)
      CheckFunction(kind, layer, layer.commonActFunction);
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
        if (s.open)
          Fail("Too complicated statement");
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
      Fail("LayerTo " + Str(*to) + " is not a layer of a network of " + Str(numLayers) + " layers");
    RequireLayer(*from);
    RequireLayer(*to);
    MatrixState m;
    m.kind = FindMatrixKind(type->c_str());
    if (m.kind == nullptr)
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
          Fail(std::string("A ") + m.type + " matrix lacks " +
               Arc(static_cast<long>(i / m.numTo), static_cast<long>(i % m.numTo)) +
               ": no weight section gives it");
    return Next(netBlock);
  }

  void CheckMatrixFits(const MatrixState &m, int from, int to) {
    TBasicLayer &fromLayer = *net->layers[from];
    TBasicLayer &toLayer = *net->layers[to];
    const std::string pair = " (layer " + Str(from) + " to layer " + Str(to) + ")";
    const std::string misfit = m.kind->misfit(fromLayer, toLayer, from, pair);
    if (!misfit.empty())
      Fail(misfit);
    const int64_t arcs = static_cast<int64_t>(fromLayer.numNeurons) * toLayer.numNeurons;
    arcsUsed += arcs;
    if (arcs > netfile_limits::kMaxArcs || arcsUsed > netfile_limits::kMaxArcs)
      Fail("Connections" + pair + " exceed the limit of " + Str(netfile_limits::kMaxArcs) +
           " arcs");
  }

  void CreateMatrix(MatrixState &m, int from, int to) {
    CheckMatrixFits(m, from, to);
    if (net->priv_conns_index[to][from]->IsConnected())
      Fail("Connections already defined");
    TBasicConnections *matrix = m.kind->make(net.get(), from, to).release();
    net->ReplaceConnections(from, to, matrix);
    m.matrix = matrix;
    m.type = matrix->GetConnectionsNType();
    m.numFrom = net->layers[from]->numNeurons;
    m.numTo = net->layers[to]->numNeurons;
    if (m.kind->allArcs)
      m.seen.assign(static_cast<size_t>(m.numFrom) * m.numTo, 0);
    if (!m.kind->allArcs)
      for (int j = 0; j < m.numFrom; ++j)
        for (int k = 0; k < m.numTo; ++k)
          matrix->RemoveArc(j, k);
  }

  std::string Arc(long j, long k) { return "arc From=" + Str(j) + " To=" + Str(k); }

  // The fuzzy matrices have exactly one arc per condition or action neuron.
  void RequireArcCanExist(const MatrixState &m, int j, int k) {
    if (m.kind->fixedArcs && !m.matrix->IsValid(j, k))
      Fail(std::string("A ") + m.type + " matrix has no " + Arc(j, k));
  }

  void ReadWeightList(MatrixState &m, const Statement &head) {
    const std::string block = *head.keyword;
    const bool full = m.kind->allArcs;
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
          Diagnose(DiagnosticKind::kOutput, key);
          Fail("Unknown keyword in weights list");
        }
        if (!item.open)
          break;
        item = Next(block, true);
      }
      if (!from || !to)
        Fail("Insufficient information in weights list");
      if (*from < 0 || *from >= m.numFrom || *to < 0 || *to >= m.numTo)
        Fail("Weight list: " + Arc(*from, *to) + " lies outside layers of " + Str(m.numFrom) +
             " and " + Str(m.numTo) + " neurons");
      const int j = static_cast<int>(*from);
      const int k = static_cast<int>(*to);
      if (full && !trainable)
        Fail(std::string("A ") + m.type + " matrix cannot hold the UnTrainable " + Arc(j, k));
      m.matrix->AddArc(j, k);
      RequireArcCanExist(m, j, k);
      if (trainable)
        m.matrix->UnfreezeArc(j, k);
      else
        m.matrix->FreezeArc(j, k);
      *m.matrix->GetWeightPtr(j, k) = weight;
      if (full)
        m.seen[static_cast<size_t>(j) * m.numTo + k] = 1;
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
      if (item.kind != StmtKeyword)
        Fail("Keyword expected in matrix parameter");
      if (Equals(*item.keyword, "WEIGHTS"))
        items.push_back(kWeights);
      else if (Equals(*item.keyword, "TRAINABLEINFO"))
        items.push_back(kTrainableInfo);
      else
        Fail("Unknown matrix attribute");
      if (items.size() > 9)
        Fail("Too many items in a matrix head (at most nine)");
      open = item.open;
    }
    const bool full = m.kind->allArcs;
    if (std::find(items.begin(), items.end(), kWeights) != items.end())
      m.weightsGiven = true;
    TBasicConnections &matrix = *m.matrix;
    for (int j = 0; j < m.numFrom; ++j)
      for (int k = 0; k < m.numTo; ++k) {
        // The head items come in any order, and a weight creates its arc
        // trainable: the arc's T or F is applied after all its weights.
        std::optional<bool> frozen;
        std::optional<std::string> badInfo;
        for (const Item item : items) {
          const Statement token = Next(block);
          if (token.kind != StmtToken)
            Fail("Token Expected");
          const std::string &text = *token.keyword;
          if (item == kWeights) {
            if (text == "-") {
              if (full || (m.kind->fixedArcs && matrix.IsValid(j, k)))
                Fail(std::string("A ") + m.type + " matrix cannot lack " + Arc(j, k) + " (\"-\")");
              matrix.RemoveArc(j, k);
            } else {
              const double weight = tools.ParseNumber(in, text);
              matrix.AddArc(j, k);
              RequireArcCanExist(m, j, k);
              *matrix.GetWeightPtr(j, k) = weight;
              if (full)
                m.seen[static_cast<size_t>(j) * m.numTo + k] = 1;
            }
          } else if (Equals(text, "T") || Equals(text, "F")) {
            frozen = Equals(text, "F");
            if (!m.kind->freezable && *frozen)
              Fail(std::string("A ") + m.type + " matrix cannot freeze " + Arc(j, k));
            RequireArcCanExist(m, j, k);
          } else {
            badInfo = text;
          }
        }
        if (badInfo && matrix.IsValid(j, k))
          Fail("TrainableInfo of the existing " + Arc(j, k) + " must be T or F, not " +
               QuotedField(*badInfo));
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

} // namespace

std::unique_ptr<TBasicNetwork> FileTools::ReadNetwork(std::istream &in) {
  return NetworkReader(*this, in).Read();
}

std::unique_ptr<TBasicNetwork> FileTools::LoadNetwork(const char *fileName) {
  // Reading from memory is several times faster than character-wise from the file.
  std::string contents;
  if (!ReadTextFile(fileName, contents))
    throw Error("Error on File Open");
  std::istringstream in(std::move(contents));
  in.imbue(std::locale::classic());
  try {
    return ReadNetwork(in);
  } catch (const Error &e) {
    throw Error(e.GetMessage()); // the stream it names ends here
  }
}

} // namespace kestrane
