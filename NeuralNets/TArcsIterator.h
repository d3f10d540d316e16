#ifndef KESTRANE_NEURALNETS_TARCSITERATOR_H
#define KESTRANE_NEURALNETS_TARCSITERATOR_H

namespace kestrane {

class TBasicNetwork;
class TBasicNeuron;
class TBasicConnections;

// A cursor over arcs into one neuron.
class TArcsIterator {
public:
  TArcsIterator() = default;
  TArcsIterator(const TArcsIterator &) = delete;
  TArcsIterator &operator=(const TArcsIterator &) = delete;
  virtual ~TArcsIterator() = default;

  virtual int GetFromLayer() = 0;
  virtual int GetToLayer() = 0;
  virtual int GetFromNeuron() = 0;
  virtual int GetToNeuron() = 0;
  virtual TBasicNeuron *GetToNeuronPtr() = 0;
  virtual TBasicNeuron *GetFromNeuronPtr() = 0;
  virtual double *GetWeightPtr() = 0;
  // Reserved; no class implements them.
  virtual void Reserved7();
  virtual bool More() { return IsCurrent(); }
  virtual void Reserved9();
  virtual void Reserved10();
  virtual bool IsCurrent() = 0;
  virtual bool Next() = 0;
  virtual bool Prev() = 0;
};

class TInAllArcsIterator : public TArcsIterator {
public:
  explicit TInAllArcsIterator(TBasicNetwork *network) : network(network) {}
  virtual void Start(int toLayer, int toNeuron);
  void Start(TBasicNeuron *toNeuron);
  // Calls reserved slot 9, for a derived class that gives it a meaning.
  void Reserved() { Reserved9(); }

  TBasicNetwork *network;
};

class TInLayerArcsIterator : public TArcsIterator {
public:
  explicit TInLayerArcsIterator(TBasicNetwork *network) : network(network) {}
  virtual void Start(int toLayer, int toNeuron, int fromLayer);
  // From-layer 0.
  void Start(TBasicNeuron *toNeuron);
  // Calls reserved slot 9, for a derived class that gives it a meaning.
  void Reserved() { Reserved9(); }

  TBasicNetwork *network;
};

// All arcs into one neuron, layer by layer, for any matrix class (the weight
// address comes from the matrix's GetWeightPtr). Visits every neuron of every connected from-layer;
// callers that care test the matrix's IsValid.
class TConnInAllArcsIterator : public TInAllArcsIterator {
public:
  explicit TConnInAllArcsIterator(TBasicNetwork *network) : TInAllArcsIterator(network) {}
  using TInAllArcsIterator::Start;
  void Start(int toLayer, int toNeuron) override;

  int GetFromLayer() override { return fromLayer; }
  int GetToLayer() override { return toLayer; }
  int GetFromNeuron() override { return fromNeuron; }
  int GetToNeuron() override { return toNeuron; }
  TBasicNeuron *GetToNeuronPtr() override { return toNeuronPtr; }
  TBasicNeuron *GetFromNeuronPtr() override { return fromNeuronPtr; }
  double *GetWeightPtr() override { return weight; }
  bool IsCurrent() override { return conn != nullptr; }
  bool Next() override;
  bool Prev() override;

  // The matrix of the current arc (nullptr when the cursor stands on none).
  TBasicConnections *GetConnections() const { return conn; }

private:
  bool StandOn(int layer, int neuron);

  int toLayer = 0;
  int toNeuron = 0;
  TBasicNeuron *toNeuronPtr = nullptr;
  int fromLayer = -1;
  int fromNeuron = -1;
  int lastFromNeuron = -1;
  TBasicNeuron *fromNeuronPtr = nullptr;
  double *weight = nullptr;
  TBasicConnections *conn = nullptr;
};

// The arcs from one layer into one neuron. On an unconnected pair it reports no arc.
class TConnInLayerArcsIterator : public TInLayerArcsIterator {
public:
  explicit TConnInLayerArcsIterator(TBasicNetwork *network) : TInLayerArcsIterator(network) {}
  using TInLayerArcsIterator::Start;
  void Start(int toLayer, int toNeuron, int fromLayer) override;

  int GetFromLayer() override { return fromLayer; }
  int GetToLayer() override { return toLayer; }
  int GetFromNeuron() override { return fromNeuron; }
  int GetToNeuron() override { return toNeuron; }
  TBasicNeuron *GetToNeuronPtr() override { return toNeuronPtr; }
  TBasicNeuron *GetFromNeuronPtr() override { return fromNeuronPtr; }
  double *GetWeightPtr() override { return weight; }
  bool IsCurrent() override { return conn != nullptr; }
  bool Next() override;
  bool Prev() override;

  // Activations of the from-layer.
  double *GetFromActivations() const { return fromActivations; }

private:
  void StandOn(int neuron);

  int toLayer = 0;
  int toNeuron = 0;
  int fromLayer = 0;
  int fromNeuron = -1;
  TBasicNeuron *toNeuronPtr = nullptr;
  TBasicNeuron *fromNeuronPtr = nullptr;
  double *weight = nullptr;
  int lastFromNeuron = -1;
  double *fromActivations = nullptr;
  TBasicConnections *conn = nullptr;
};

} // namespace kestrane

#endif
