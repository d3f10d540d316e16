#ifndef KESTRANE_NEURALNETS_TBASICCONNECTIONS_H
#define KESTRANE_NEURALNETS_TBASICCONNECTIONS_H

#include <vector>

namespace kestrane {

class TBasicNetwork;
class TBasicLayer;
class TIterateObj;
class TIterateObj2;
class TIterateObj3;

// Arc flag bits.
constexpr unsigned char FMaskExists = 1;
constexpr unsigned char FMaskTrainable = 2;
constexpr unsigned char FMaskAll = 3;

// Arc selection by mask: FMaskExists selects every existing arc; any other
// mask (0, FMaskAll) selects arcs that exist and are trainable.
inline bool SelectsArc(int mask, unsigned char flags) {
  return mask == FMaskExists ? (flags & FMaskExists) != 0 : (flags & FMaskAll) == FMaskAll;
}

// The trainable byte a visitor is handed for an arc with these flags.
inline unsigned char TrainableBit(unsigned char flags) { return (flags & FMaskTrainable) ? 1 : 0; }

// A weight drawn in [min, max) from the next RandomDraw() value (the run's
// generator, else rand()); max is never drawn.
double RandomWeight(double min, double max);

// The matrix of one ordered layer pair of a network. It reads the neuron
// counts of its two layers from the network whenever it needs them.
// Per-arc arguments are neuron indices, from-neuron first.
// Released through Destroy; copied with Clone.
class TBasicConnections {
public:
  TBasicConnections(TBasicNetwork *network, int from, int to);
  TBasicConnections(const TBasicConnections &) = delete;
  TBasicConnections &operator=(const TBasicConnections &) = delete;
  virtual ~TBasicConnections() = default;

  virtual bool IsConnected() const { return true; }
  virtual int GetNumWeights(int mask);
  virtual int GetWeights(double *out, int mask);
  virtual int SetWeights(const double *in, int mask);
  virtual void Randomize(double min, double max);
  virtual double *GetWeightPtr(int from, int to) = 0;
  virtual void AddNetInputs(double *net);
  virtual bool IsValid(int from, int to) const = 0;
  virtual bool IsTrainable(int from, int to) const { return IsValid(from, to); }
  virtual void RemoveArc(int from, int to);
  virtual void AddArc(int from, int to);
  virtual void UnfreezeArc(int from, int to);
  virtual void FreezeArc(int from, int to);
  virtual void IterateInArcs(TIterateObj &visitor, int to, int mask) = 0;
  virtual void IterateOutArcs(TIterateObj &visitor, int from, int mask) = 0;
  virtual void Iterate(TIterateObj &visitor, int mask) = 0;
  // The twin matrices are the cells of the same layer pair in the other networks.
  virtual void Iterate2(TIterateObj2 &visitor, TBasicNetwork *network2, int mask) = 0;
  virtual void Iterate3(TIterateObj3 &visitor, TBasicNetwork *network2, TBasicNetwork *network3,
                        int mask) = 0;
  virtual const char *GetConnectionsNType() const = 0;
  virtual unsigned char GetFlags(int from, int to) const;
  virtual void SetFlags(int from, int to, unsigned char val);
  virtual void Destroy() = 0;
  virtual TBasicConnections *Clone(TBasicNetwork *owner) const = 0;
  // The network has already changed the layer's neuron count when it calls these.
  virtual void RemoveFromNeuron(int index) = 0;
  // False for a matrix whose arcs follow from its layers' structure: it
  // cannot drop a neuron, so the network keeps the neurons of both layers.
  virtual bool RemovesNeurons() const { return true; }
  virtual void RemoveToNeuron(int index) = 0;
  virtual void InsertFromNeuron(int index, double min, double max, bool attached);
  virtual void InsertToNeuron(int index, double min, double max, bool attached);

  // Flags of every existing arc in Iterate order (GetNumWeights(FMaskExists) bytes).
  std::vector<unsigned char> GetAllFlags();
  // SetFlags on every existing arc in Iterate order.
  void SetAllFlags(const unsigned char *bytes);
  void MakeAllUntrainable();

  TBasicLayer *GetFromLayer() const;
  TBasicLayer *GetToLayer() const;
  int GetNumFromNeurons() const;
  int GetNumToNeurons() const;
  // The matrix of the same layer pair in another network.
  TBasicConnections *TwinIn(TBasicNetwork *other) const;
  // Iterate2/Iterate3 require twins of the same class.
  static void CheckSameClass2(const TBasicConnections *conn1, const TBasicConnections *conn2);
  static void CheckSameClass3(const TBasicConnections *conn1, const TBasicConnections *conn3);

  TBasicNetwork *network;
  int from;
  int to;
};

// Placeholder of an unconnected layer pair: no arcs.
class TEmptyConnections : public TBasicConnections {
public:
  TEmptyConnections(TBasicNetwork *network, int from, int to);

  bool IsConnected() const override { return false; }
  int GetNumWeights(int) override { return 0; }
  int GetWeights(double *, int) override { return 0; }
  int SetWeights(const double *, int) override { return 0; }
  void Randomize(double, double) override {}
  double *GetWeightPtr(int from, int to) override;
  void AddNetInputs(double *) override {}
  bool IsValid(int, int) const override { return false; }
  bool IsTrainable(int, int) const override { return false; }
  void IterateInArcs(TIterateObj &, int, int) override {}
  void IterateOutArcs(TIterateObj &, int, int) override {}
  void Iterate(TIterateObj &, int) override {}
  void Iterate2(TIterateObj2 &, TBasicNetwork *, int) override {}
  void Iterate3(TIterateObj3 &, TBasicNetwork *, TBasicNetwork *, int) override {}
  static constexpr const char *kTypeName = "Empty";
  const char *GetConnectionsNType() const override { return kTypeName; }
  void Destroy() override { delete this; }
  TBasicConnections *Clone(TBasicNetwork *owner) const override;
  void RemoveFromNeuron(int) override {}
  void RemoveToNeuron(int) override {}
  void InsertFromNeuron(int, double, double, bool) override {}
  void InsertToNeuron(int, double, double, bool) override {}
};

} // namespace kestrane

#endif
