#include "NeuralNets/TMLPNetwork.h"

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"

#include <gtest/gtest.h>

#include <string>

using namespace kestrane;

namespace {

std::string TypeOf(TBasicNetwork &net, int from, int to) {
  return net.priv_conns_index[to][from]->GetConnectionsNType();
}

int ConnectedCount(TBasicNetwork &net) {
  int count = 0;
  for (auto *m : net.priv_conns)
    count += m->IsConnected() ? 1 : 0;
  return count;
}

} // namespace

TEST(TMLPNetwork, LayerPlanWithBias) {
  const int sizes[] = {4, 5, 2};
  TMLPNetwork net(3, sizes, true);
  EXPECT_STREQ(net.GetNetworkNType(), "MLP");
  ASSERT_EQ(net.numLayers, 4);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 3);
  const int counts[] = {1, 4, 5, 2};
  const char *types[] = {"Simple", "Input", "Gain", "Gain"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(net.layers[i]->numNeurons, counts[i]) << i;
    EXPECT_STREQ(net.layers[i]->GetLayerNType(), types[i]) << i;
  }
  EXPECT_EQ(net.layers[0]->GetLayerActFunction(), ActBias);
  EXPECT_EQ(net.layers[1]->GetLayerActFunction(), ActLinear);
  EXPECT_EQ(net.layers[2]->GetLayerActFunction(), ActSigmoid);
  EXPECT_EQ(net.layers[3]->GetLayerActFunction(), ActSigmoid);
  EXPECT_EQ(ConnectedCount(net), 4);
  EXPECT_EQ(TypeOf(net, 1, 2), "Pruneable");
  EXPECT_EQ(TypeOf(net, 2, 3), "Pruneable");
  EXPECT_EQ(TypeOf(net, 0, 2), "Pruneable");
  EXPECT_EQ(TypeOf(net, 0, 3), "Pruneable");
  // All arcs present and trainable, weights 0.
  EXPECT_EQ(net.GetNumWeights(FMaskAll), 4 * 5 + 5 * 2 + 5 + 2);
  EXPECT_EQ(net.GetNumWeights(FMaskExists), net.GetNumWeights(FMaskAll));
  const double in[] = {0.1, 0.2, 0.3, 0.4};
  double out[2];
  net.Recall(in, out);
  EXPECT_EQ(net.layers[0]->activations[0], 1.0);
  EXPECT_EQ(out[0], 0.5);
  EXPECT_EQ(out[1], 0.5);
}

TEST(TMLPNetwork, LayerPlanWithoutBias) {
  const int sizes[] = {4, 5, 2};
  TMLPNetwork net(3, sizes, false);
  EXPECT_EQ(net.layers[0]->numNeurons, 0);
  EXPECT_EQ(ConnectedCount(net), 2);
  EXPECT_EQ(TypeOf(net, 1, 2), "Pruneable");
  EXPECT_EQ(TypeOf(net, 2, 3), "Pruneable");
  EXPECT_EQ(net.GetNumWeights(FMaskAll), 4 * 5 + 5 * 2);
}

TEST(TMLPNetwork, InputLayerAloneIsTheOutputLayer) {
  const int sizes[] = {4};
  TMLPNetwork net(1, sizes, true);
  ASSERT_EQ(net.numLayers, 2);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 1);
  EXPECT_EQ(ConnectedCount(net), 0);
  const double in[] = {0.1, 0.2, 0.3, 0.4};
  double out[4];
  net.Recall(in, out);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(out[i], in[i]);
}

TEST(TMLPNetwork, GridOnlyConstructorLeavesLayersToTheCreator) {
  TMLPNetwork net(2, true);
  EXPECT_TRUE(net.bias);
  ASSERT_EQ(net.numLayers, 3);
  EXPECT_EQ(net.outLayer, 2);
  EXPECT_EQ(ConnectedCount(net), 0);
  for (auto *layer : net.layers)
    EXPECT_EQ(layer, nullptr);
  net.FillUnsetLayers(); // so that it can be destroyed
}

TEST(TMLPNetwork, BadConstructorArgumentsAreRejected) {
  const int sizes[] = {2, -1};
  EXPECT_THROW(TMLPNetwork(0, sizes, true), TException);
  EXPECT_THROW(TMLPNetwork(2, sizes, true), TException);
  EXPECT_THROW(TMLPNetwork(2, nullptr, true), TException);
}
