#ifndef KESTRANE_NEURALNETS_ARCWALK_H
#define KESTRANE_NEURALNETS_ARCWALK_H

// The Iterate* family of a matrix class, written once. A class M derives
// from TArcWalk<M> and supplies three enumerators of its arcs, each calling
// arc(from, to, flags) for every existing arc in visiting order:
//   EachArc(arc)              all arcs
//   EachInArc(to, arc)        the arcs into neuron `to`
//   EachOutArc(from, arc)     the arcs out of neuron `from`
// and its GetWeightPtr(from, to). The walk selects arcs by mask (SelectsArc)
// and fills the visitors; the weight of a twin is the same arc's slot in the
// twin matrix. M's .cpp defines the enumerators and instantiates
// TArcWalk<M> (its header declares it extern).

#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TIterateObj.h"

#include <type_traits>

namespace kestrane {

template <class M>
class TArcWalk : public TBasicConnections {
public:
  using TBasicConnections::TBasicConnections;

  void IterateInArcs(TIterateObj &visitor, int to, int mask) override;
  void IterateOutArcs(TIterateObj &visitor, int from, int mask) override;
  void Iterate(TIterateObj &visitor, int mask) override;
  void Iterate2(TIterateObj2 &visitor, TBasicNetwork *network2, int mask) override;
  void Iterate3(TIterateObj3 &visitor, TBasicNetwork *network2, TBasicNetwork *network3,
                int mask) override;

private:
  M &Self() { return static_cast<M &>(*this); }
  template <class Each>
  void Walk(TIterateObj &visitor, int mask, Each each);
  template <class Visitor>
  void WalkTwins(Visitor &visitor, M &twin2, M *twin3, int mask);
};

// Defined out of the class, so not inline: the extern declaration beside each
// matrix class keeps other files from instantiating them.

template <class M>
void TArcWalk<M>::IterateInArcs(TIterateObj &visitor, int to, int mask) {
  Walk(visitor, mask, [&](auto arc) { Self().EachInArc(to, arc); });
}

template <class M>
void TArcWalk<M>::IterateOutArcs(TIterateObj &visitor, int from, int mask) {
  Walk(visitor, mask, [&](auto arc) { Self().EachOutArc(from, arc); });
}

template <class M>
void TArcWalk<M>::Iterate(TIterateObj &visitor, int mask) {
  Walk(visitor, mask, [&](auto arc) { Self().EachArc(arc); });
}

template <class M>
template <class Each>
void TArcWalk<M>::Walk(TIterateObj &visitor, int mask, Each each) {
  visitor.SetContext(GetFromLayer(), GetToLayer());
  visitor.conn = this;
  each([&](int from, int to, unsigned char flags) {
    if (!SelectsArc(mask, flags))
      return;
    visitor.fromNeuron = from;
    visitor.toNeuron = to;
    visitor.weight = Self().M::GetWeightPtr(from, to);
    visitor.trainable = TrainableBit(flags);
    visitor.Visit();
  });
}

// Iterate2 and Iterate3 differ only in the third network's weight.
template <class M>
template <class Visitor>
void TArcWalk<M>::WalkTwins(Visitor &visitor, M &twin2, M *twin3, int mask) {
  Self().EachArc([&](int from, int to, unsigned char flags) {
    if (!SelectsArc(mask, flags))
      return;
    visitor.fromNeuron = from;
    visitor.toNeuron = to;
    visitor.weight1 = Self().M::GetWeightPtr(from, to);
    visitor.weight2 = twin2.M::GetWeightPtr(from, to);
    if constexpr (std::is_same_v<Visitor, TIterateObj3>)
      visitor.weight3 = twin3->M::GetWeightPtr(from, to);
    visitor.trainable = TrainableBit(flags);
    visitor.Visit();
  });
}

template <class M>
void TArcWalk<M>::Iterate2(TIterateObj2 &visitor, TBasicNetwork *network2, int mask) {
  TBasicConnections *conn2 = TwinIn(network2);
  CheckSameClass2(this, conn2);
  visitor.SetContext(this, conn2);
  WalkTwins(visitor, static_cast<M &>(*conn2), nullptr, mask);
}

template <class M>
void TArcWalk<M>::Iterate3(TIterateObj3 &visitor, TBasicNetwork *network2, TBasicNetwork *network3,
                           int mask) {
  TBasicConnections *conn2 = TwinIn(network2);
  TBasicConnections *conn3 = TwinIn(network3);
  CheckSameClass2(this, conn2);
  CheckSameClass3(this, conn3);
  visitor.SetContext(this, conn2, conn3);
  WalkTwins(visitor, static_cast<M &>(*conn2), static_cast<M *>(conn3), mask);
}

} // namespace kestrane

#endif
