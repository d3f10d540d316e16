#ifndef KESTRANE_NEURALNETS_TBASICNETWORK_H
#define KESTRANE_NEURALNETS_TBASICNETWORK_H

// The network core: neurons, layers, matrices, visitors, iterators, networks.

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TArcsIterator.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNeuron.h"
#include "NeuralNets/TIterateObj.h"

#include <memory>
#include <vector>

namespace kestrane {

// Layers plus a square grid of matrices, one per ordered layer pair, never
// empty: an unconnected pair holds a TEmptyConnections. The file reader, the
// writer, the train module and derived networks work on the fields directly.
class TBasicNetwork {
public:
  // No grid (for derived networks that set it up themselves).
  TBasicNetwork();
  // The grid of numLayers layers; the creator fills every layers[i].
  explicit TBasicNetwork(int numLayers);
  // Always a TBasicNetwork holding clones of x's layers and matrices, with a
  // fresh registry.
  TBasicNetwork(const TBasicNetwork &x);
  TBasicNetwork &operator=(const TBasicNetwork &x);
  virtual ~TBasicNetwork();

  // Matrix order: from-layer outer, to-layer inner.
  virtual int GetNumWeights(int mask);
  virtual int GetWeights(double *out, int mask);
  virtual int SetWeights(const double *in, int mask);
  virtual void Randomize(double min, double max);
  // Connect keeps an existing real matrix; otherwise installs a new one (a
  // TPrunedConnections here) with zero weights.
  virtual void Connect(int fromLayer, int toLayer);
  virtual void Disconnect(int fromLayer, int toLayer);
  // input: the input layer's count; output: the output layer's count.
  virtual void Recall(const double *input, double *output);
  static constexpr const char *kTypeName = "Basic";
  virtual const char *GetNetworkNType() const { return kTypeName; }
  virtual std::unique_ptr<TArcsIterator> CreateInAllArcsIterator();
  // Reserved; no network class implements them.
  virtual void *Reserved10();
  virtual void *Reserved11();
  virtual void *Reserved12();

  // numLayers n, inLayer 1, outLayer n-1, n*n TEmptyConnections, unset layers,
  // a registry with the built-ins. Only on a network without a grid.
  void SetupGrid(int n);
  // Destroys the matrix in [toLayer][fromLayer] and stores `matrix` (owned from now on).
  void ReplaceConnections(int fromLayer, int toLayer, TBasicConnections *matrix);
  // Gives every unset layers[i] an empty TSimpleLayer, so that a network left
  // half-built (a reader's error path) can be destroyed.
  void FillUnsetLayers();

  // Raises TException (Bad Parameter, `function`) unless both are layers of this network.
  void CheckLayerPair(int fromLayer, int toLayer, const char *function) const;

  int GetNumNeurons() const;
  // Neuron counts of one layer, of the input layer and of the output layer.
  // A layer number outside the network raises std::out_of_range.
  int GetLayerSize(int layer) const { return layers.at(static_cast<size_t>(layer))->numNeurons; }
  int GetNumInputs() const { return GetLayerSize(inLayer); }
  int GetNumOutputs() const { return GetLayerSize(outLayer); }
  // Neurons numbered across the layers, layer 0's first.
  TBasicNeuron *GetNeuron(int index);

  void AddNeuron(int LayerNum, int node, double min, double max, bool attached);
  // Raises TException, changing nothing, when the layer's neurons cannot be
  // removed (NeuronsRemovable).
  void RemoveNeuron(int LayerNum, int node);
  // The layer and every matrix into or out of it can drop one of its neurons.
  bool NeuronsRemovable(int LayerNum) const;
  // The layer must have been created for this network; LayerNum may be numLayers.
  void InsertLayer(int LayerNum, TBasicLayer *layer);
  void RemoveLayer(int LayerNum);
  // Removes hidden neurons without outgoing arcs; returns how many. Layers
  // whose neurons cannot be removed keep theirs.
  int PruneDeadNeurons();

  void IterateNeuronInArcs(TIterateObj &visitor, int LayerNum, int node, int mask);
  void IterateNeuronOutArcs(TIterateObj &visitor, int LayerNum, int node, int mask);

  int numLayers = 0;
  std::vector<TBasicLayer *> layers; // owned
  int inLayer = 0;
  int outLayer = 0;
  std::vector<TBasicConnections *> priv_conns;        // owned; [to*n + from]
  std::vector<TBasicConnections **> priv_conns_index; // priv_conns_index[to][from]
  std::unique_ptr<TFnRegistry> registry;

private:
  void Release();
  void CopyFrom(const TBasicNetwork &x);
  void PointIndexRows();
};

// Connect creates fully connected matrices.
class TConnectedNetwork : public TBasicNetwork {
public:
  TConnectedNetwork() = default;
  explicit TConnectedNetwork(int numLayers);
  // The grid plus a TSimpleInputLayer at inLayer and TSimpleLayers elsewhere.
  // Raises TException for fewer than 2 layers, no sizes or a negative size.
  TConnectedNetwork(int numLayers, const int *sizes);

  void Connect(int fromLayer, int toLayer) override;
  static constexpr const char *kTypeName = "Connected";
  const char *GetNetworkNType() const override { return kTypeName; }
  std::unique_ptr<TArcsIterator> CreateInAllArcsIterator() override;
};

} // namespace kestrane

#endif
