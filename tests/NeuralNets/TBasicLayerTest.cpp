#include "NeuralNets/TBasicNetwork.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace kestrane;

TEST(TBasicLayer, NewLayerHasZeroedActivationsAndErrorFunctions) {
  TBasicNetwork net; // no grid: the layers live on their own
  TSimpleLayer layer(&net, 2, 3);
  ASSERT_EQ(layer.activations.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    TBasicNeuron *n = layer.GetNeuron(i);
    EXPECT_EQ(layer.activations[i], 0.0);
    EXPECT_EQ(n->activation, &layer.activations[i]);
    EXPECT_EQ(n->layer, &layer);
    EXPECT_EQ(n->layerNum, 2);
    EXPECT_EQ(n->index, i);
    EXPECT_EQ(n->GetActFunction(), ActError);
  }
  EXPECT_EQ(layer.commonActFunction, nullptr);
  EXPECT_EQ(layer.GetNumDimensions(), 0);
  EXPECT_STREQ(layer.GetLayerNType(), "Simple");
  EXPECT_EQ(layer.GetLayerKind(), 1);
}

TEST(TBasicLayer, TypeNames) {
  TBasicNetwork net; // no grid: the layers live on their own
  TSimpleInputLayer input(&net, 1, 2);
  TGainLayer gain(&net, 0, 2, 1.0);
  EXPECT_STREQ(input.GetLayerNType(), "Input");
  EXPECT_EQ(input.GetLayerKind(), 1);
  EXPECT_STREQ(gain.GetLayerNType(), "Gain");
  EXPECT_EQ(input.GetLayerActFunction(), ActLinear);
}

TEST(TBasicLayer, CommonFunctionIsFoundOrDropped) {
  TBasicNetwork net; // no grid: the layers live on their own
  TSimpleLayer layer(&net, 0, 3);
  layer.SetLayerActFunction(ActTanh);
  EXPECT_EQ(layer.GetLayerActFunction(), ActTanh);

  layer.GetNeuron(1)->SetActFunction(ActSigmoid);
  EXPECT_EQ(layer.commonActFunction, nullptr);
  EXPECT_EQ(layer.GetLayerActFunction(), nullptr);
  EXPECT_EQ(layer.commonActFunction, nullptr);

  // Once the neurons agree again, the common function is recomputed and stored.
  layer.GetNeuron(1)->SetActFunction(ActTanh);
  EXPECT_EQ(layer.GetLayerActFunction(), ActTanh);
  EXPECT_EQ(layer.commonActFunction, ActTanh);

  TSimpleLayer empty(&net, 1, 0);
  EXPECT_EQ(empty.GetLayerActFunction(), ActNull);
  EXPECT_EQ(empty.commonActFunction, ActNull);
}

TEST(TBasicLayer, ApplyActivationPrefersCommonFunction) {
  TBasicNetwork net; // no grid: the layers live on their own
  TSimpleLayer layer(&net, 0, 2);
  layer.GetNeuron(0)->SetActFunction(ActLinear);
  layer.GetNeuron(1)->SetActFunction(ActBias);
  layer.activations = {3.0, 4.0};
  layer.ApplyActivation(layer.activations.data());
  EXPECT_EQ(layer.activations[0], 3.0);
  EXPECT_EQ(layer.activations[1], 1.0);
  // A common function set directly overrides the neurons' own ones.
  layer.commonActFunction = ActSaturatedLinear;
  layer.activations = {3.0, 0.5};
  layer.ApplyActivation(layer.activations.data());
  EXPECT_EQ(layer.activations[0], 1.0);
  EXPECT_EQ(layer.activations[1], 0.5);
}

TEST(TBasicLayer, Dimensions) {
  TBasicNetwork net; // no grid: the layers live on their own
  TSimpleLayer layer(&net, 0, 6);
  int out[3] = {-1, -1, -1};
  layer.GetDimensions(out); // no dimensions: nothing written
  EXPECT_EQ(out[0], -1);
  const int dims[2] = {2, 3};
  layer.SetDimensions(2, dims);
  layer.GetDimensions(out);
  EXPECT_EQ(layer.GetNumDimensions(), 2);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[1], 3);
  EXPECT_EQ(out[2], -1);
  layer.SetDimensions(0, nullptr);
  EXPECT_EQ(layer.GetNumDimensions(), 0);
}

TEST(TBasicLayer, CloneKeepsFunctionsGainsDimensionsButNotActivations) {
  TBasicNetwork net;   // no grid: the layers live on their own
  TBasicNetwork other; // no grid: the layers live on their own
  TGainLayer layer(&net, 0, 3, 2.5);
  layer.GetNeuron(0)->SetActFunction(ActTanhGain);
  layer.GetNeuron(1)->SetActFunction(ActSigmoidGain);
  layer.GetNeuron(2)->SetActFunction(ActLinearGain);
  layer.nodes[2].gain = 0.75;
  const int dims[1] = {3};
  layer.SetDimensions(1, dims);
  layer.activations = {1.0, 2.0, 3.0};

  TBasicLayer *copy = layer.Clone(&other);
  auto *gainCopy = dynamic_cast<TGainLayer *>(copy);
  ASSERT_NE(gainCopy, nullptr);
  EXPECT_EQ(copy->network, &other);
  EXPECT_EQ(copy->numNeurons, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(copy->activations[i], 0.0);
    EXPECT_EQ(copy->GetNeuron(i)->GetActFunction(), layer.GetNeuron(i)->GetActFunction());
    EXPECT_EQ(copy->GetNeuron(i)->layer, copy);
    EXPECT_EQ(copy->GetNeuron(i)->activation, &copy->activations[i]);
  }
  EXPECT_EQ(gainCopy->nodes[0].gain, 2.5);
  EXPECT_EQ(gainCopy->nodes[2].gain, 0.75);
  int out[1] = {0};
  copy->GetDimensions(out);
  EXPECT_EQ(out[0], 3);
  copy->Destroy();

  TSimpleInputLayer input(&net, 1, 2);
  TBasicLayer *inputCopy = input.Clone(&other);
  EXPECT_STREQ(inputCopy->GetLayerNType(), "Input");
  EXPECT_EQ(inputCopy->GetLayerActFunction(), ActLinear);
  inputCopy->Destroy();
}

TEST(TBasicLayer, InsertAndRemoveNeuronRebuildTheArray) {
  TBasicNetwork net; // no grid: the layers live on their own
  TGainLayer layer(&net, 0, 2, 1.0);
  layer.SetLayerActFunction(ActTanhGain);
  layer.nodes[0].gain = 4.0;
  layer.nodes[1].gain = 5.0;

  layer.InsertNeuron(1);
  ++layer.numNeurons;
  ASSERT_EQ(layer.nodes.size(), 3u);
  ASSERT_EQ(layer.activations.size(), 3u);
  EXPECT_EQ(layer.nodes[0].gain, 4.0);
  EXPECT_EQ(layer.nodes[1].gain, 4.0); // the new neuron takes neuron 0's gain
  EXPECT_EQ(layer.nodes[2].gain, 5.0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(layer.nodes[i].GetActFunction(), ActTanhGain);
    EXPECT_EQ(layer.nodes[i].activation, &layer.activations[i]);
    EXPECT_EQ(layer.nodes[i].layer, &layer);
    EXPECT_EQ(layer.nodes[i].index, i);
  }

  layer.RemoveNeuron(0);
  --layer.numNeurons;
  ASSERT_EQ(layer.nodes.size(), 2u);
  EXPECT_EQ(layer.nodes[0].gain, 4.0);
  EXPECT_EQ(layer.nodes[1].gain, 5.0);
  EXPECT_EQ(layer.nodes[1].activation, &layer.activations[1]);

  TGainLayer empty(&net, 0, 0, 3.0);
  empty.InsertNeuron(0);
  EXPECT_EQ(empty.nodes[0].gain, 1.0);
  EXPECT_EQ(empty.nodes[0].GetActFunction(), ActError);
}

TEST(TBasicLayer, GainNeuronParameters) {
  TGainNeuron n;
  EXPECT_EQ(n.GetNumParameters(), 1);
  EXPECT_STREQ(n.GetParameterName(0), "Gain");
  const double in[1] = {0.25};
  n.SetParameters(in);
  double out[1] = {0.0};
  n.GetParameters(out);
  EXPECT_EQ(out[0], 0.25);
  TBasicNeuron b;
  EXPECT_EQ(b.GetNumParameters(), 0);
}

TEST(TBasicLayerDeathTest, UnsupportedOperationsStop) {
  TGainNeuron g;
  EXPECT_DEATH(g.GetParameterName(1), "Assertion failed: i==0");
  TBasicNeuron b;
  EXPECT_DEATH(b.GetParameterName(0), "Assertion failed: false");
}

} // namespace
