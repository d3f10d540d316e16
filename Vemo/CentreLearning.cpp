#include "Vemo/CentreLearning.h"

#include "KQmessage/TException.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/FastEpoch.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TVemo.h"

#include <algorithm>
#include <typeinfo>

namespace kestrane {

namespace {

// A tenth of the even spacing: close enough for the data to pull two terms
// together, far enough that neither triangle collapses to a step.
constexpr double kGapShare = 0.1;

TBasicNetwork *WithTriangles(TBasicNetwork *network) {
  // TVemoBP's checks come first, in its constructor; this one needs the layer.
  if (network != nullptr && network->numLayers > TVemo::kConditionLayer) {
    auto *layer = dynamic_cast<TConditionLayer *>(network->layers[TVemo::kConditionLayer]);
    if (layer == nullptr || layer->GetLayerActFunction() != ActVemoCondition)
      throw TException("Learning the centres needs the triangular membership functions "
                       "(Vemo-condition) on the condition layer",
                       kBadParameter, "TVemoBPCentres::TVemoBPCentres");
  }
  return network;
}

} // namespace

std::vector<CentreBounds> CentreBoundsOf(const TConditionLayer &layer) {
  std::vector<CentreBounds> bounds;
  const std::vector<int> &counts = layer.GetMFCounts();
  for (int i = 0; i < layer.GetNumInputs(); ++i) {
    const TConditionNeuron *c = layer.nodes.data() + layer.GetFirstNeuronOfInput(i);
    const int m = counts[static_cast<size_t>(i)];
    CentreBounds b;
    b.low = c[0].centre;
    b.high = c[m - 1].centre;
    // Centres out of order (a file may hold them so) get no gap to keep.
    b.gap = std::max(0.0, kGapShare * (b.high - b.low) / (m - 1));
    for (int l = 1; l < m; ++l)
      b.gap = std::min(b.gap, std::max(0.0, c[l].centre - c[l - 1].centre));
    bounds.push_back(b);
  }
  return bounds;
}

void KeepCentresInBounds(TConditionLayer &layer, const std::vector<CentreBounds> &bounds) {
  const std::vector<int> &counts = layer.GetMFCounts();
  for (size_t i = 0; i < bounds.size(); ++i) {
    TConditionNeuron *c = layer.nodes.data() + layer.GetFirstNeuronOfInput(static_cast<int>(i));
    const int m = counts[i];
    const CentreBounds &b = bounds[i];
    c[0].centre = b.low;
    for (int l = 1; l < m - 1; ++l) {
      const double lowest = c[l - 1].centre + b.gap;
      const double highest = b.high - (m - 1 - l) * b.gap;
      // Rounding may leave lowest a hair above highest; the upper bound wins,
      // which still keeps the order.
      c[l].centre = std::min(std::max(c[l].centre, lowest), highest);
    }
    c[m - 1].centre = b.high;
  }
}

TVemoBPCentres::TVemoBPCentres(TBasicNetwork *network) : TVemoBP(WithTriangles(network)) {
  // The fast epoch's kernels run the rule and action matrices as for
  // TVemoBP and step the centres' block like any listed matrix; TVemoBP's
  // pattern loop knows nothing of the centres, so there is none.
  fastEpoch->Serve(typeid(TVemoBPCentres));
  fastEpoch->ReadsNoDeltasBelow(TVemo::kConditionLayer);
  fastEpoch->SetPatternLoop(nullptr);
  bounds = CentreBoundsOf(*static_cast<TConditionLayer *>(network->layers[TVemo::kConditionLayer]));
}

void TVemoBPCentres::BackpropagateDeltas(bool crossEntropy) {
  TVemoBP::BackpropagateDeltas(crossEntropy);
  const auto *layer = static_cast<TConditionLayer *>(network->layers[TVemo::kConditionLayer]);
  auto *store = static_cast<TConditionLayer *>(gradients->layers[TVemo::kConditionLayer]);
  const double *x = network->layers[TVemo::kInputLayer]->activations.data();
  const double *delta = store->activations.data(); // dE/d degree, from the rule layer
  TConditionNeuron *g = store->nodes.data();       // the centres' gradients
  const TConditionNeuron *n = layer->nodes.data();
  if (fastEpoch->Active()) {
    // The block's gradients are written here, beside the kernels' book-keeping.
    if (kernels::ArcBlock *b = fastEpoch->Block(TVemo::kConditionLayer, TVemo::kInputLayer)) {
      TFastEpoch::Settle(*b);
      b->Mark(kernels::ArcBlock::kWritten);
    }
  }
  // An end centre (no neighbour on one side) gets no gradient: it stays put.
  const auto inner = [](const TConditionNeuron &cn) {
    return cn.left != nullptr && cn.right != nullptr;
  };
  for (int k = 0; k < layer->numNeurons; ++k) {
    const TConditionNeuron &cn = n[k];
    const double v = x[layer->GetInputOfNeuron(k)], c = cn.centre;
    const double d = kCentreRateShare * delta[k];
    // The cases in the order ConditionDegree tests them.
    if ((cn.left == nullptr && v <= c) || (cn.right == nullptr && v >= c))
      continue;
    if (cn.right != nullptr && c <= v && v < cn.right->centre) {
      const double w = cn.right->centre - c;
      if (inner(cn))
        g[k].centre += d * ((cn.right->centre - v) / (w * w));
      if (inner(*cn.right))
        g[k + 1].centre += d * ((v - c) / (w * w));
    } else if (cn.left != nullptr && cn.left->centre < v && v <= c) {
      const double w = c - cn.left->centre;
      if (inner(cn))
        g[k].centre -= d * ((v - cn.left->centre) / (w * w));
      if (inner(*cn.left))
        g[k - 1].centre -= d * ((c - v) / (w * w));
    }
  }
}

void TVemoBPCentres::UpdateWeights(TKQstructure *record) {
  TVemoBP::UpdateWeights(record);
  KeepCentresInBounds(*static_cast<TConditionLayer *>(network->layers[TVemo::kConditionLayer]),
                      bounds);
  // The step has used the centres' gradients: zeroed here, in a plain loop,
  // the fast epoch need not zero them through the matrix's visitor walk
  // before the next pattern (either path leaves the same bits).
  auto *store = static_cast<TConditionLayer *>(gradients->layers[TVemo::kConditionLayer]);
  for (TConditionNeuron &g : store->nodes)
    g.centre = 0.0;
  if (fastEpoch->Active())
    if (kernels::ArcBlock *b = fastEpoch->Block(TVemo::kConditionLayer, TVemo::kInputLayer))
      b->Mark(kernels::ArcBlock::kZero);
}

} // namespace kestrane
