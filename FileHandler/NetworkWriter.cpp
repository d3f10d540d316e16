// The network ("weight") file writer and the save wrapper.

#include "FileHandler/NetworkFile.h"

#include "FileHandler/ParseTools.h"
#include "FileHandler/SafeSave.h"
#include "NeuralNets/TBasicNetwork.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <locale>
#include <ostream>
#include <string>
#include <vector>

namespace kestrane {

namespace {

constexpr int kPrecision = 15;

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
    if (name == nullptr)
      throw FileTools::Error("Activation function without a name", &out);
    return name;
  }

  void WriteInformation() {
    tools.WriteKeyword(out, "NetworkInformation", true);
    tools.WriteInteger(out, "NumberOfLayers", net.numLayers, true);
    tools.WriteInteger(out, "InputLayer", net.inLayer, true);
    tools.WriteInteger(out, "OutputLayer", net.outLayer, true);
    tools.WriteInteger(out, "NumberOfInputs", net.GetNumInputs(), true);
    tools.WriteInteger(out, "NumberOfOutputs", net.GetNumOutputs(), true);
    for (int i = 0; i < net.numLayers; ++i) {
      TBasicLayer &layer = *net.layers[i];
      if (layer.GetLayerActFunction() != ActBias)
        continue;
      if (layer.numNeurons != 1)
        throw FileTools::Error("Illegal number of bias nodes", &out);
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
    if (common != nullptr)
      WriteAll("ActivationFunction", NameOf(common));
    const LayerKind *kind = FindLayerKind(layer.GetLayerNType());
    if (kind != nullptr && kind->writeMembership != nullptr)
      kind->writeMembership(tools, out, layer);
    if (layer.numNeurons > 0)
      WriteParameters(layer, common);
    tools.WriteEndTag(out, "Layer"); // also for an empty layer, or it would not read back
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
      for (int p = 0; p < slots; ++p)
        shared[p] = p < first.GetNumParameters();
      for (int i = 1; i < n; ++i) {
        const TBasicNeuron &neuron = *layer.GetNeuron(i);
        neuron.GetParameters(values.data());
        for (int p = 0; p < slots; ++p)
          if (shared[p] &&
              (p >= neuron.GetNumParameters() ||
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
    if (common != nullptr && allShared)
      return;

    tools.WriteKeyword(out, "Neurons", true);
    for (int i = 0; i < n; ++i) {
      const TBasicNeuron &neuron = *layer.GetNeuron(i);
      tools.OpenBracket(out, true);
      tools.WriteInteger(out, "Neuron", i, false);
      if (common == nullptr)
        tools.WriteString(out, "ActivationFunction", NameOf(neuron.GetActFunction()), false);
      const int own = std::min(slots, neuron.GetNumParameters());
      if (own > 0)
        neuron.GetParameters(values.data());
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
    const MatrixKind *kind = FindMatrixKind(type);
    const bool freezable = kind == nullptr || kind->freezable;
    tools.OpenBracket(out, true);
    tools.WriteKeyword(out, "Attributes", false);
    tools.WriteKeyword(out, freezable ? "Pruneable" : "UnPrunable", false);
    tools.WriteKeyword(out, freezable ? "Freezable" : "UnFreezable", false);
    tools.CloseBracket(out, true, true);

    const int f = net.GetLayerSize(from);
    const int t = net.GetLayerSize(to);
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
    if (freezable)
      tools.WriteKeyword(out, "TrainableInfo", false);
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
        if (freezable)
          line += !exists ? "- " : conn.IsTrainable(j, k) ? "T " : "F ";
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
  if (freezable)
    tools.WriteKeyword(out, trainable ? "Trainable" : "UnTrainable", false);
  tools.CloseBracket(out, true, true);
}

void FileTools::WriteNetwork(std::ostream &out, TBasicNetwork &network) {
  NetworkWriter(*this, out, network).Write();
  if (!out)
    throw Error("Error writing network: the output stream failed", &out);
}

void FileTools::SaveNetwork(const char *fileName, TBasicNetwork &network) {
  if (fileName == nullptr)
    throw Error("Error on File Open");
  SafeSave save(fileName);
  std::ostream &out = save.Stream();
  out.imbue(std::locale::classic());
  WriteNetwork(out, network);
  save.Commit();
}

} // namespace kestrane
