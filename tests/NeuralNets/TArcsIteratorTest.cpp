#include "NeuralNets/TBasicNetwork.h"
#include "tests/NeuralNets/NetFixtures.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

using namespace kestrane;
using kestrane_test::FillLayers;
using kestrane_test::NumberWeights;
using Arc = std::tuple<int, int, double>; // from-layer, from-neuron, weight

std::vector<Arc> Forward(TArcsIterator &it) {
  std::vector<Arc> arcs;
  while (it.Next())
    arcs.emplace_back(it.GetFromLayer(), it.GetFromNeuron(), *it.GetWeightPtr());
  return arcs;
}

class ArcsIteratorTest : public ::testing::Test {
protected:
  // Layers 0 (2 neurons) and 1 (3 neurons) feed layer 2 (2 neurons); layer 3 is
  // connected to layer 2 too (a higher-to-lower matrix); 1 -> 3 exists as well.
  ArcsIteratorTest() : net(4) {
    FillLayers(net, {2, 3, 2, 1});
    net.Connect(0, 2);
    net.Connect(1, 2);
    net.Connect(3, 2);
    net.Connect(1, 3);
    NumberWeights(*net.priv_conns_index[2][0], 2, 2);
    NumberWeights(*net.priv_conns_index[2][1], 3, 2);
    NumberWeights(*net.priv_conns_index[2][3], 1, 2);
    for (int j = 0; j < 3; ++j)
      *net.priv_conns_index[2][1]->GetWeightPtr(j, 1) += 100.0;
  }
  TConnectedNetwork net;
};

TEST_F(ArcsIteratorTest, InAllArcsVisitsLayerByLayerThenStops) {
  std::unique_ptr<TArcsIterator> it = net.CreateInAllArcsIterator();
  auto *all = dynamic_cast<TConnInAllArcsIterator *>(it.get());
  ASSERT_NE(all, nullptr);
  all->Start(2, 1);
  EXPECT_FALSE(all->IsCurrent());
  EXPECT_FALSE(all->More());
  EXPECT_EQ(all->GetToNeuronPtr(), net.layers[2]->GetNeuron(1));
  // w(j -> 1) = 10j + 2 (+100 from layer 1)
  const std::vector<Arc> expected = {Arc{0, 0, 2},   Arc{0, 1, 12},  Arc{1, 0, 102},
                                     Arc{1, 1, 112}, Arc{1, 2, 122}, Arc{3, 0, 2}};
  EXPECT_EQ(Forward(*all), expected);
  EXPECT_FALSE(all->IsCurrent());
  EXPECT_FALSE(all->Next());

  // Backwards from the end gives the same arcs in reverse.
  std::vector<Arc> backwards;
  while (all->Prev())
    backwards.emplace_back(all->GetFromLayer(), all->GetFromNeuron(), *all->GetWeightPtr());
  EXPECT_EQ(backwards, std::vector<Arc>(expected.rbegin(), expected.rend()));
}

TEST_F(ArcsIteratorTest, InAllArcsStartFromNeuronAndPrevAfterStart) {
  TConnInAllArcsIterator it(&net);
  it.Start(net.layers[2]->GetNeuron(0));
  EXPECT_FALSE(it.Prev());
  ASSERT_TRUE(it.Next());
  EXPECT_EQ(it.GetToLayer(), 2);
  EXPECT_EQ(it.GetToNeuron(), 0);
  EXPECT_EQ(it.GetFromNeuronPtr(), net.layers[0]->GetNeuron(0));
  EXPECT_EQ(it.GetConnections(), net.priv_conns_index[2][0]);
  ASSERT_TRUE(it.Next());
  ASSERT_TRUE(it.Next());
  EXPECT_EQ(it.GetFromLayer(), 1);
  ASSERT_TRUE(it.Prev());
  EXPECT_EQ(it.GetFromLayer(), 0);
  EXPECT_EQ(it.GetFromNeuron(), 1);
  EXPECT_EQ(*it.GetWeightPtr(), 11.0);
}

TEST_F(ArcsIteratorTest, InLayerArcsWalkOneMatrixRow) {
  TConnInLayerArcsIterator it(&net);
  it.Start(2, 1, 1);
  EXPECT_TRUE(it.IsCurrent());
  EXPECT_EQ(Forward(it), (std::vector<Arc>{Arc{1, 0, 102}, Arc{1, 1, 112}, Arc{1, 2, 122}}));
  EXPECT_FALSE(it.Next());
  EXPECT_EQ(it.GetFromNeuron(), 2);
  ASSERT_TRUE(it.Prev());
  EXPECT_EQ(it.GetFromNeuron(), 1);
  EXPECT_EQ(it.GetFromNeuronPtr(), net.layers[1]->GetNeuron(1));
  ASSERT_TRUE(it.Prev());
  EXPECT_FALSE(it.Prev());
  EXPECT_EQ(it.GetFromActivations(), net.layers[1]->activations.data());

  // The neuron form starts at from-layer 0.
  it.Start(net.layers[2]->GetNeuron(0));
  EXPECT_EQ(Forward(it), (std::vector<Arc>{Arc{0, 0, 1}, Arc{0, 1, 11}}));
}

TEST_F(ArcsIteratorTest, InLayerArcsOnAnUnconnectedPairReportNoArc) {
  TConnInLayerArcsIterator it(&net);
  it.Start(3, 0, 0);
  EXPECT_FALSE(it.IsCurrent());
  EXPECT_FALSE(it.Next());
  EXPECT_FALSE(it.Prev());
  EXPECT_EQ(it.GetWeightPtr(), nullptr);
}

TEST_F(ArcsIteratorTest, PrunedArcsAreStillVisited) {
  TBasicNetwork basic(3);
  FillLayers(basic, {1, 2, 1});
  basic.Connect(1, 2);
  basic.priv_conns_index[2][1]->RemoveArc(0, 0);
  TConnInAllArcsIterator it(&basic);
  it.Start(2, 0);
  int visits = 0;
  int valid = 0;
  while (it.Next()) {
    ++visits;
    valid += it.GetConnections()->IsValid(it.GetFromNeuron(), it.GetToNeuron()) ? 1 : 0;
  }
  EXPECT_EQ(visits, 2);
  EXPECT_EQ(valid, 1);
}

TEST_F(ArcsIteratorTest, EmptyLayersAreSkipped) {
  TConnectedNetwork n(3);
  FillLayers(n, {0, 2, 1});
  n.Connect(0, 2);
  n.Connect(1, 2);
  TConnInAllArcsIterator it(&n);
  it.Start(2, 0);
  ASSERT_TRUE(it.Next());
  EXPECT_EQ(it.GetFromLayer(), 1);
}

TEST(ArcsIteratorDeathTest, ReservedSlotsStop) {
  TConnectedNetwork net(2);
  FillLayers(net, {1, 1});
  TConnInAllArcsIterator it(&net);
  EXPECT_DEATH(it.Reserved7(), "Assertion failed: false");
  EXPECT_DEATH(it.Reserved9(), "Assertion failed: false");
  EXPECT_DEATH(it.Reserved(), "Assertion failed: false");
  TConnInLayerArcsIterator layerIt(&net);
  EXPECT_DEATH(layerIt.Reserved(), "Assertion failed: false");
}

} // namespace
