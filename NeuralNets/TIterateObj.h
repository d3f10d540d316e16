#ifndef KESTRANE_NEURALNETS_TITERATEOBJ_H
#define KESTRANE_NEURALNETS_TITERATEOBJ_H

namespace kestrane {

class TBasicConnections;
class TBasicLayer;
class TBasicNetwork;

// Weight visitor over one matrix. The matrix fills the context before the
// first visit and the arc fields before each Visit.
class TIterateObj {
public:
  virtual ~TIterateObj() = default;
  virtual void Visit() {}

  // Context from the two layers (their network and layer numbers give the matrix).
  void SetContext(TBasicLayer *fromLayer, TBasicLayer *toLayer);
  // Context from a network and two layer numbers.
  void SetContext(TBasicNetwork *network, int fromLayer, int toLayer);

  int fromLayerNum = 0;
  int toLayerNum = 0;
  int fromNeuron = 0;
  int toNeuron = 0;
  TBasicConnections *conn = nullptr;
  double *weight = nullptr;
  unsigned char trainable = 0;
  TBasicLayer *fromLayer = nullptr;
  TBasicLayer *toLayer = nullptr;
  double *fromActivations = nullptr;
  double *toActivations = nullptr;
};

// Visitor over a matrix and its twin in a second network of the same structure.
class TIterateObj2 {
public:
  virtual ~TIterateObj2() = default;
  virtual void Visit() {}

  // Context from the matrix of network 1 and its twin in network 2.
  void SetContext(TBasicConnections *conn1, TBasicConnections *conn2);

  int fromLayerNum = 0;
  int toLayerNum = 0;
  int fromNeuron = 0;
  int toNeuron = 0;
  TBasicConnections *conn1 = nullptr;
  TBasicConnections *conn2 = nullptr;
  double *weight1 = nullptr;
  double *weight2 = nullptr;
  unsigned char trainable = 0;
  TBasicLayer *fromLayer1 = nullptr;
  TBasicLayer *toLayer1 = nullptr;
  TBasicLayer *fromLayer2 = nullptr;
  TBasicLayer *toLayer2 = nullptr;
  double *fromActivations1 = nullptr;
  double *toActivations1 = nullptr;
  double *fromActivations2 = nullptr;
  double *toActivations2 = nullptr;
};

// Visitor over a matrix and its twins in two further networks.
class TIterateObj3 {
public:
  virtual ~TIterateObj3() = default;
  virtual void Visit() {}

  void SetContext(TBasicConnections *conn1, TBasicConnections *conn2, TBasicConnections *conn3);

  int fromLayerNum = 0;
  int toLayerNum = 0;
  int fromNeuron = 0;
  int toNeuron = 0;
  TBasicConnections *conn1 = nullptr;
  TBasicConnections *conn2 = nullptr;
  TBasicConnections *conn3 = nullptr;
  double *weight1 = nullptr;
  double *weight2 = nullptr;
  double *weight3 = nullptr;
  unsigned char trainable = 0;
  TBasicLayer *fromLayer1 = nullptr;
  TBasicLayer *toLayer1 = nullptr;
  TBasicLayer *fromLayer2 = nullptr;
  TBasicLayer *toLayer2 = nullptr;
  TBasicLayer *fromLayer3 = nullptr;
  TBasicLayer *toLayer3 = nullptr;
  double *fromActivations1 = nullptr;
  double *toActivations1 = nullptr;
  double *fromActivations2 = nullptr;
  double *toActivations2 = nullptr;
  double *fromActivations3 = nullptr;
  double *toActivations3 = nullptr;
};

// ---- generic visitors ----

// Forward-pass sum of one to-neuron.
class TIterateObjAggregate : public TIterateObj {
public:
  void Visit() override;
  double sum = 0.0;
};

class TIterateObjGetNumWeights : public TIterateObj {
public:
  void Visit() override { ++count; }
  int count = 0;
};

class TIterateObjGetWeights : public TIterateObj {
public:
  explicit TIterateObjGetWeights(double *out) : position(out) {}
  void Visit() override;
  int count = 0;
  double *position;
};

class TIterateObjSetWeights : public TIterateObj {
public:
  explicit TIterateObjSetWeights(const double *in) : position(in) {}
  void Visit() override;
  int count = 0;
  const double *position;
};

class TIterateObjRandomize : public TIterateObj {
public:
  TIterateObjRandomize(double min, double max) : min(min), max(max) {}
  void Visit() override;
  double min;
  double max;
};

class TIterateObjGetFlags : public TIterateObj {
public:
  explicit TIterateObjGetFlags(unsigned char *bytes) : bytes(bytes) {}
  void Visit() override;
  unsigned char *bytes; // caller-owned
  int length = 0;
};

class TIterateObjSetFlags : public TIterateObj {
public:
  explicit TIterateObjSetFlags(const unsigned char *bytes) : bytes(bytes) {}
  void Visit() override;
  const unsigned char *bytes;
  int index = 0;
};

class TIterateObjAllUntrainable : public TIterateObj {
public:
  void Visit() override;
};

// Counts the arcs leaving a neuron (dead-neuron pruning).
class TIterateObjPruneNode : public TIterateObj {
public:
  void Visit() override { ++count; }
  int count = 0;
};

class TIterateObjCount : public TIterateObj {
public:
  void Visit() override { ++count; }
  int count = 0;
};

} // namespace kestrane

#endif
