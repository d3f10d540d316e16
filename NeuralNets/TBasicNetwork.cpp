#include "NeuralNets/TBasicNetwork.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

#include <algorithm>
#include <string>

namespace kestrane {

TBasicNetwork::TBasicNetwork() = default;

namespace {

// Checked before any layer exists, so a refusal leaves nothing behind.
int CheckedLayerCount(int n, int least, const char *function) {
  if (n < least)
    throw TException("Invalid number of layers", kBadParameter, function);
  return n;
}

// Two layers at least: the input layer is layer 1.
int CheckedSizes(int n, const int *sizes, const char *function) {
  if (sizes == nullptr)
    throw TException("Null layer sizes", kNullPointerParameter, function);
  CheckedLayerCount(n, 2, function);
  for (int i = 0; i < n; ++i)
    if (sizes[i] < 0)
      throw TException("Invalid layer size", kBadParameter, function);
  return n;
}

} // namespace

TBasicNetwork::TBasicNetwork(int n) {
  SetupGrid(CheckedLayerCount(n, 0, "TBasicNetwork::TBasicNetwork"));
}

TBasicNetwork::TBasicNetwork(const TBasicNetwork &x) { CopyFrom(x); }

TBasicNetwork &TBasicNetwork::operator=(const TBasicNetwork &x) {
  if (&x == this)
    return *this;
  Release();
  CopyFrom(x);
  return *this;
}

TBasicNetwork::~TBasicNetwork() { Release(); }

void TBasicNetwork::Release() {
  for (size_t i = 0; i < priv_conns.size(); ++i) {
    KASSERT_TEXT(priv_conns[i] != nullptr, "priv_conns[i] != NULL");
    priv_conns[i]->Destroy();
  }
  priv_conns.clear();
  priv_conns_index.clear();
  for (size_t i = 0; i < layers.size(); ++i) {
    KASSERT_TEXT(layers[i] != nullptr, "layers[i] != NULL");
    layers[i]->Destroy();
  }
  layers.clear();
  registry.reset();
  numLayers = 0;
}

void TBasicNetwork::PointIndexRows() {
  const size_t n = static_cast<size_t>(numLayers);
  priv_conns_index.assign(n, nullptr);
  for (size_t i = 0; i < n; ++i)
    priv_conns_index[i] = priv_conns.data() + i * n;
}

void TBasicNetwork::CopyFrom(const TBasicNetwork &x) {
  numLayers = x.numLayers;
  inLayer = x.inLayer;
  outLayer = x.outLayer;
  layers.assign(x.layers.size(), nullptr);
  for (size_t i = 0; i < x.layers.size(); ++i) {
    KASSERT_TEXT(x.layers[i] != nullptr, "x.layers[i] != NULL");
    layers[i] = x.layers[i]->Clone(this);
  }
  priv_conns.assign(x.priv_conns.size(), nullptr);
  for (size_t i = 0; i < x.priv_conns.size(); ++i) {
    KASSERT_TEXT(x.priv_conns[i] != nullptr, "x.priv_conns[i] != NULL");
    priv_conns[i] = x.priv_conns[i]->Clone(this);
  }
  PointIndexRows();
  registry = std::make_unique<TFnRegistry>();
  registry->RegisterBuiltins();
}

void TBasicNetwork::SetupGrid(int n) {
  KASSERT_TEXT(priv_conns.empty() && layers.empty(), "priv_conns == NULL");
  KASSERT_TEXT(n >= 0, "n_layers >= 0");
  numLayers = n;
  inLayer = 1;
  outLayer = n - 1;
  const size_t cells = static_cast<size_t>(n) * n;
  priv_conns.assign(cells, nullptr);
  layers.assign(static_cast<size_t>(n), nullptr);
  PointIndexRows();
  for (int to = 0; to < n; ++to)
    for (int from = 0; from < n; ++from)
      priv_conns_index[to][from] = new TEmptyConnections(this, from, to);
  registry = std::make_unique<TFnRegistry>();
  registry->RegisterBuiltins();
}

void TBasicNetwork::ReplaceConnections(int fromLayer, int toLayer, TBasicConnections *matrix) {
  TBasicConnections *&cell = priv_conns_index[toLayer][fromLayer];
  if (cell != nullptr)
    cell->Destroy();
  cell = matrix;
}

void TBasicNetwork::FillUnsetLayers() {
  for (int i = 0; i < static_cast<int>(layers.size()); ++i)
    if (layers[i] == nullptr)
      layers[i] = new TSimpleLayer(this, i, 0);
}

int TBasicNetwork::GetNumWeights(int mask) {
  int total = 0;
  for (int f = 0; f < numLayers; ++f)
    for (int t = 0; t < numLayers; ++t)
      total += priv_conns_index[t][f]->GetNumWeights(mask);
  return total;
}

int TBasicNetwork::GetWeights(double *out, int mask) {
  int total = 0;
  for (int f = 0; f < numLayers; ++f)
    for (int t = 0; t < numLayers; ++t)
      total += priv_conns_index[t][f]->GetWeights(out + total, mask);
  return total;
}

int TBasicNetwork::SetWeights(const double *in, int mask) {
  int total = 0;
  for (int f = 0; f < numLayers; ++f)
    for (int t = 0; t < numLayers; ++t)
      total += priv_conns_index[t][f]->SetWeights(in + total, mask);
  return total;
}

void TBasicNetwork::Randomize(double min, double max) {
  for (int f = 0; f < numLayers; ++f)
    for (int t = 0; t < numLayers; ++t)
      priv_conns_index[t][f]->Randomize(min, max);
}

void TBasicNetwork::CheckLayerPair(int fromLayer, int toLayer, const char *function) const {
  if (fromLayer < 0 || fromLayer >= numLayers || toLayer < 0 || toLayer >= numLayers)
    throw TException(("No layer pair " + std::to_string(fromLayer) + " -> " +
                      std::to_string(toLayer) + " in a network of " + std::to_string(numLayers) +
                      " layers")
                         .c_str(),
                     kBadParameter, function);
}

void TBasicNetwork::Connect(int fromLayer, int toLayer) {
  CheckLayerPair(fromLayer, toLayer, "TBasicNetwork::Connect");
  if (priv_conns_index[toLayer][fromLayer]->IsConnected())
    return;
  ReplaceConnections(fromLayer, toLayer, new TPrunedConnections(this, fromLayer, toLayer));
}

void TBasicNetwork::Disconnect(int fromLayer, int toLayer) {
  CheckLayerPair(fromLayer, toLayer, "TBasicNetwork::Disconnect");
  KASSERT_TEXT(priv_conns_index[toLayer][fromLayer] != nullptr,
               "priv_conns_index[toLayer][fromLayer] != NULL");
  ReplaceConnections(fromLayer, toLayer, new TEmptyConnections(this, fromLayer, toLayer));
}

void TBasicNetwork::Recall(const double *input, double *output) {
  for (int i = 0; i < numLayers; ++i)
    layers[i]->Propagate(input);
  const TBasicLayer *out = layers[outLayer];
  std::copy(out->activations.begin(), out->activations.begin() + out->numNeurons, output);
}

std::unique_ptr<TArcsIterator> TBasicNetwork::CreateInAllArcsIterator() {
  KASSERT_TEXT(false, "false");
  return nullptr;
}

void *TBasicNetwork::Reserved10() {
  KASSERT_TEXT(false, "false");
  return nullptr;
}

void *TBasicNetwork::Reserved11() {
  KASSERT_TEXT(false, "false");
  return nullptr;
}

void *TBasicNetwork::Reserved12() {
  KASSERT_TEXT(false, "false");
  return nullptr;
}

int TBasicNetwork::GetNumNeurons() const {
  int total = 0;
  for (const TBasicLayer *layer : layers)
    total += layer->numNeurons;
  return total;
}

TBasicNeuron *TBasicNetwork::GetNeuron(int index) {
  KASSERT_TEXT(index >= 0, "index>=0");
  KASSERT_TEXT(index < GetNumNeurons(), "index<GetNumNeurons()");
  for (TBasicLayer *layer : layers) {
    if (index < layer->numNeurons)
      return layer->GetNeuron(index);
    index -= layer->numNeurons;
  }
  return nullptr;
}

void TBasicNetwork::AddNeuron(int LayerNum, int node, double min, double max, bool attached) {
  KASSERT_TEXT(LayerNum >= 0, "LayerNum>=0");
  KASSERT_TEXT(LayerNum < numLayers, "LayerNum<numLayers");
  KASSERT_TEXT(LayerNum != inLayer, "LayerNum!=inLayer");
  KASSERT_TEXT(LayerNum != outLayer, "LayerNum!=outLayer");
  KASSERT_TEXT(node >= 0, "node>=0");
  TBasicLayer *layer = layers[LayerNum];
  KASSERT_TEXT(node <= layer->numNeurons, "node<=layers[LayerNum]->GetNumNeurons()");
  layer->InsertNeuron(node);
  ++layer->numNeurons;
  // On the diagonal cell the column is inserted first, then the row.
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->InsertFromNeuron(node, min, max, attached);
    priv_conns_index[LayerNum][i]->InsertToNeuron(node, min, max, attached);
  }
}

void TBasicNetwork::RemoveNeuron(int LayerNum, int node) {
  KASSERT_TEXT(LayerNum >= 0, "LayerNum>=0");
  KASSERT_TEXT(LayerNum < numLayers, "LayerNum<numLayers");
  KASSERT_TEXT(LayerNum != inLayer, "LayerNum!=inLayer");
  KASSERT_TEXT(LayerNum != outLayer, "LayerNum!=outLayer");
  KASSERT_TEXT(node >= 0, "node>=0");
  TBasicLayer *layer = layers[LayerNum];
  KASSERT_TEXT(node < layer->numNeurons, "node<layers[LayerNum]->GetNumNeurons()");
  if (!NeuronsRemovable(LayerNum))
    throw TException("The neurons of this layer cannot be removed", kBadParameter,
                     "TBasicNetwork::RemoveNeuron");
  layer->RemoveNeuron(node);
  --layer->numNeurons;
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->RemoveFromNeuron(node);
    priv_conns_index[LayerNum][i]->RemoveToNeuron(node);
  }
}

bool TBasicNetwork::NeuronsRemovable(int LayerNum) const {
  if (!layers[LayerNum]->RemovesNeurons())
    return false;
  for (int i = 0; i < numLayers; ++i)
    if (!priv_conns_index[i][LayerNum]->RemovesNeurons() ||
        !priv_conns_index[LayerNum][i]->RemovesNeurons())
      return false;
  return true;
}

void TBasicNetwork::InsertLayer(int LayerNum, TBasicLayer *layer) {
  KASSERT_TEXT(LayerNum >= 0, "LayerNum>=0");
  KASSERT_TEXT(LayerNum <= numLayers, "LayerNum<=numLayers");
  KASSERT_TEXT(layer != nullptr, "layer != NULL");
  const int n = numLayers;
  const int m = n + 1;
  std::vector<TBasicConnections *> grid(static_cast<size_t>(m) * m, nullptr);
  auto cell = [&](int to, int from) -> TBasicConnections *& {
    return grid[static_cast<size_t>(to) * m + from];
  };
  for (int i = 0; i < m; ++i) {
    cell(i, LayerNum) = new TEmptyConnections(this, LayerNum, i);
    if (i != LayerNum)
      cell(LayerNum, i) = new TEmptyConnections(this, i, LayerNum);
  }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      cell(i + (i >= LayerNum ? 1 : 0), j + (j >= LayerNum ? 1 : 0)) = priv_conns_index[i][j];
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      cell(i, j)->from = j;
      cell(i, j)->to = i;
    }
  layers.insert(layers.begin() + LayerNum, layer);
  priv_conns.swap(grid);
  numLayers = m;
  PointIndexRows();
  for (int i = 0; i < m; ++i)
    layers[i]->SetLayerNum(i);
  if (inLayer >= LayerNum)
    ++inLayer;
  if (outLayer >= LayerNum)
    ++outLayer;
}

void TBasicNetwork::RemoveLayer(int LayerNum) {
  KASSERT_TEXT(LayerNum >= 0, "LayerNum>=0");
  KASSERT_TEXT(LayerNum < numLayers, "LayerNum<numLayers");
  KASSERT_TEXT(LayerNum != inLayer, "LayerNum!=inLayer");
  KASSERT_TEXT(LayerNum != outLayer, "LayerNum!=outLayer");
  const int n = numLayers;
  const int m = n - 1;
  for (int i = 0; i < n; ++i) {
    priv_conns_index[i][LayerNum]->Destroy();
    if (i != LayerNum)
      priv_conns_index[LayerNum][i]->Destroy();
  }
  std::vector<TBasicConnections *> grid(static_cast<size_t>(m) * m, nullptr);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      TBasicConnections *matrix =
          priv_conns_index[i + (i >= LayerNum ? 1 : 0)][j + (j >= LayerNum ? 1 : 0)];
      matrix->from = j;
      matrix->to = i;
      grid[static_cast<size_t>(i) * m + j] = matrix;
    }
  layers[LayerNum]->Destroy();
  layers.erase(layers.begin() + LayerNum);
  priv_conns.swap(grid);
  numLayers = m;
  PointIndexRows();
  for (int i = 0; i < m; ++i)
    layers[i]->SetLayerNum(i);
  if (inLayer >= LayerNum)
    --inLayer;
  if (outLayer >= LayerNum)
    --outLayer;
}

int TBasicNetwork::PruneDeadNeurons() {
  int removed = 0;
  for (int LayerNum = outLayer - 1; LayerNum >= 0; --LayerNum) {
    if (LayerNum == inLayer || LayerNum == outLayer || !NeuronsRemovable(LayerNum))
      continue;
    for (int node = layers[LayerNum]->numNeurons - 1; node >= 0; --node) {
      TIterateObjPruneNode visitor;
      visitor.count = 0;
      IterateNeuronOutArcs(visitor, LayerNum, node, FMaskExists);
      if (visitor.count == 0) {
        RemoveNeuron(LayerNum, node);
        ++removed;
      }
    }
  }
  return removed;
}

void TBasicNetwork::IterateNeuronInArcs(TIterateObj &visitor, int LayerNum, int node, int mask) {
  for (int f = 0; f < numLayers; ++f)
    priv_conns_index[LayerNum][f]->IterateInArcs(visitor, node, mask);
}

void TBasicNetwork::IterateNeuronOutArcs(TIterateObj &visitor, int LayerNum, int node, int mask) {
  for (int t = 0; t < numLayers; ++t)
    priv_conns_index[t][LayerNum]->IterateOutArcs(visitor, node, mask);
}

// ---- TConnectedNetwork ----

TConnectedNetwork::TConnectedNetwork(int n) : TBasicNetwork(n) {}

TConnectedNetwork::TConnectedNetwork(int n, const int *sizes)
    : TBasicNetwork(CheckedSizes(n, sizes, "TConnectedNetwork::TConnectedNetwork")) {
  for (int i = 0; i < n; ++i) {
    if (i == inLayer)
      layers[i] = new TSimpleInputLayer(this, i, sizes[i]);
    else
      layers[i] = new TSimpleLayer(this, i, sizes[i]);
  }
}

void TConnectedNetwork::Connect(int fromLayer, int toLayer) {
  CheckLayerPair(fromLayer, toLayer, "TConnectedNetwork::Connect");
  if (priv_conns_index[toLayer][fromLayer]->IsConnected())
    return;
  ReplaceConnections(fromLayer, toLayer, new TConnectedConnections(this, fromLayer, toLayer));
}

std::unique_ptr<TArcsIterator> TConnectedNetwork::CreateInAllArcsIterator() {
  return std::make_unique<TConnInAllArcsIterator>(this);
}

} // namespace kestrane
