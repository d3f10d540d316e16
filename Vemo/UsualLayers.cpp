#include "Vemo/UsualLayers.h"

#include "Vemo/TConditionLayer.h"
#include "Vemo/TVemo.h"
#include "Vemo/TVemoOutputLayer.h"

#include <typeinfo>

namespace kestrane {

namespace {

// What TSimpleLayer::ApplyActivation does, assumed inline by the flat loops.
bool SigmoidLayer(TBasicLayer &layer) {
  if (typeid(layer) != typeid(TSimpleLayer) || layer.GetLayerActFunction() != ActSigmoid)
    return false;
  auto &simple = static_cast<TSimpleLayer &>(layer);
  if (simple.nodes.size() < static_cast<size_t>(layer.numNeurons))
    return false;
  for (int i = 0; i < layer.numNeurons; ++i)
    if (simple.nodes[static_cast<size_t>(i)].activation !=
        &layer.activations[static_cast<size_t>(i)])
      return false;
  return true;
}

} // namespace

bool HasUsualVemoLayers(TBasicNetwork &net) {
  if (net.numLayers != TVemo::kNumLayers || net.inLayer != TVemo::kInputLayer ||
      net.outLayer != TVemo::kOutputLayer ||
      net.layers.size() != static_cast<size_t>(TVemo::kNumLayers))
    return false;
  for (int l = 0; l < TVemo::kNumLayers; ++l)
    if (net.layers[l]->layerNum != l)
      return false;
  TBasicLayer &bias = *net.layers[TVemo::kBiasLayer];
  return bias.numNeurons == 0 && typeid(bias) == typeid(TSimpleLayer) &&
         typeid(*net.layers[TVemo::kInputLayer]) == typeid(TSimpleInputLayer) &&
         typeid(*net.layers[TVemo::kConditionLayer]) == typeid(TConditionLayer) &&
         SigmoidLayer(*net.layers[TVemo::kRuleLayer]) &&
         SigmoidLayer(*net.layers[TVemo::kActionLayer]) &&
         typeid(*net.layers[TVemo::kOutputLayer]) == typeid(TVemoOutputLayer);
}

} // namespace kestrane
