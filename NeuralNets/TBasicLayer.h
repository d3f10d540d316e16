#ifndef KESTRANE_NEURALNETS_TBASICLAYER_H
#define KESTRANE_NEURALNETS_TBASICLAYER_H

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TBasicNeuron.h"

#include <vector>

namespace kestrane {

class TBasicNetwork;

// A layer of a network: its neurons plus one activation array. During the
// forward pass the activation array first collects the net inputs.
// Created for one network and layer number; released through Destroy.
class TBasicLayer {
public:
  TBasicLayer(TBasicNetwork *network, int layerNum, int numNeurons);
  TBasicLayer(const TBasicLayer &) = delete;
  TBasicLayer &operator=(const TBasicLayer &) = delete;
  virtual ~TBasicLayer() = default;

  virtual void ApplyActivation(double *net);
  virtual TBasicNeuron *GetNeuron(int i) = 0;
  // One forward step; `input` is the network input (read by the input layer only).
  virtual void Propagate(const double *input);
  virtual const char *GetLayerNType() const = 0;
  virtual void Destroy() = 0;
  virtual TBasicLayer *Clone(TBasicNetwork *owner) const = 0;
  // The network adjusts numNeurons after these two calls.
  virtual void RemoveNeuron(int index) = 0;
  // False for a layer whose neurons are fixed by the network's structure;
  // the network then refuses RemoveNeuron and pruning passes them over.
  virtual bool RemovesNeurons() const { return true; }
  virtual void InsertNeuron(int index);

  // The common function, computed and stored when every neuron agrees;
  // nullptr when they differ; ActNull for a layer without neurons.
  ActFunction GetLayerActFunction();
  void SetLayerActFunction(ActFunction function);

  int GetNumNeurons() const { return numNeurons; }
  int GetNumDimensions() const { return numDimensions; }
  void GetDimensions(int *out) const;
  void SetDimensions(int count, const int *in);

  // Renumbers the layer and its neurons (used when the network inserts or removes layers).
  void SetLayerNum(int number);

  TBasicNetwork *network;
  ActFunction commonActFunction = nullptr;
  int numNeurons;
  int layerNum;
  std::vector<double> activations;
  int numDimensions = 0;
  std::vector<int> dimensions;

protected:
  // Shared neuron-array handling for the concrete neuron classes.
  template <class N>
  void CreateNeurons(std::vector<N> &nodes, int n);
  template <class N>
  void CloneNeuronsInto(const std::vector<N> &src, std::vector<N> &dst,
                        TBasicLayer &dstLayer) const;
  template <class N>
  void RemoveNeuronFrom(std::vector<N> &nodes, int index);
  template <class N>
  void InsertNeuronInto(std::vector<N> &nodes, int index);
  // Copies activations size (zeroed), dimensions and the common function into dst.
  void CopyBaseStateInto(TBasicLayer &dst) const;
};

class TSimpleLayer : public TBasicLayer {
public:
  TSimpleLayer(TBasicNetwork *network, int layerNum, int numNeurons);

  // As the base, without a virtual call per neuron; the common sigmoid inline.
  void ApplyActivation(double *net) override;
  TBasicNeuron *GetNeuron(int i) override { return &nodes[i]; }
  static constexpr const char *kTypeName = "Simple";
  const char *GetLayerNType() const override { return kTypeName; }
  void Destroy() override { delete this; }
  TBasicLayer *Clone(TBasicNetwork *owner) const override;
  void RemoveNeuron(int index) override;
  void InsertNeuron(int index) override;
  virtual int GetLayerKind() const { return 1; }

  std::vector<TBasicNeuron> nodes;
};

// Input layer: its activations are the network input, unchanged.
class TSimpleInputLayer : public TSimpleLayer {
public:
  TSimpleInputLayer(TBasicNetwork *network, int layerNum, int numNeurons);

  void Propagate(const double *input) override;
  static constexpr const char *kTypeName = "Input";
  const char *GetLayerNType() const override { return kTypeName; }
  TBasicLayer *Clone(TBasicNetwork *owner) const override;
};

class TGainLayer : public TBasicLayer {
public:
  TGainLayer(TBasicNetwork *network, int layerNum, int numNeurons, double gain);

  TBasicNeuron *GetNeuron(int i) override { return &nodes[i]; }
  static constexpr const char *kTypeName = "Gain";
  const char *GetLayerNType() const override { return kTypeName; }
  void Destroy() override { delete this; }
  TBasicLayer *Clone(TBasicNetwork *owner) const override;
  void RemoveNeuron(int index) override;
  void InsertNeuron(int index) override;

  void SetGain(double gain);

  std::vector<TGainNeuron> nodes;
};

// ---- template definitions ----

template <class N>
void TBasicLayer::CreateNeurons(std::vector<N> &nodes, int n) {
  nodes.assign(static_cast<size_t>(n), N());
  for (int i = 0; i < n; ++i) {
    N &node = nodes[i];
    node.layer = this;
    node.activation = &activations[i];
    node.layerNum = layerNum;
    node.index = i;
    node.actFunction = ActError;
  }
}

template <class N>
void TBasicLayer::CloneNeuronsInto(const std::vector<N> &src, std::vector<N> &dst,
                                   TBasicLayer &dstLayer) const {
  for (size_t i = 0; i < src.size() && i < dst.size(); ++i) {
    N &copy = dst[i];
    copy.layerNum = src[i].layerNum;
    copy.index = src[i].index;
    copy.actFunction = src[i].actFunction;
    copy.CopyParameters(src[i]);
    copy.layer = &dstLayer;
    copy.activation = &dstLayer.activations[i];
  }
}

template <class N>
void TBasicLayer::RemoveNeuronFrom(std::vector<N> &nodes, int index) {
  std::vector<N> kept;
  kept.reserve(nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (static_cast<int>(i) == index)
      continue;
    kept.push_back(nodes[i]);
    N &moved = kept.back();
    moved.CopyParameters(nodes[i]);
    const int pos = static_cast<int>(kept.size()) - 1;
    moved.index = pos; // keep Start(neuron) of the arc iterators meaningful
    moved.layer = this;
    moved.activation = &activations[pos];
  }
  nodes.swap(kept);
}

template <class N>
void TBasicLayer::InsertNeuronInto(std::vector<N> &nodes, int index) {
  const size_t n = nodes.size();
  activations.assign(n + 1, 0.0);
  std::vector<N> grown;
  grown.reserve(n + 1);
  for (size_t i = 0; i <= n; ++i) {
    if (static_cast<int>(i) == index) {
      grown.push_back(N());
      N &fresh = grown.back();
      fresh.actFunction = commonActFunction ? commonActFunction : ActError;
      fresh.layerNum = layerNum;
    } else {
      const size_t old = i - (static_cast<int>(i) > index ? 1 : 0);
      grown.push_back(nodes[old]);
      grown.back().CopyParameters(nodes[old]);
    }
    N &node = grown.back();
    node.index = static_cast<int>(i);
    node.layer = this;
    node.activation = &activations[i];
  }
  nodes.swap(grown);
}

} // namespace kestrane

#endif
