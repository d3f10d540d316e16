#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"
#include "tests/NeuralNets/NetFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

using namespace kestrane;
using kestrane_test::FillLayers;
using kestrane_test::NumberWeights;
using kestrane_test::WeightsOf;
using V = std::vector<double>;

// Layer 0 has 2 neurons, layer 1 has 3: matrices from 0 to 1 are 2 -> 3.
class ConnectionsTest : public ::testing::Test {
protected:
  ConnectionsTest() : net(2) { FillLayers(net, {2, 3}); }
  TBasicNetwork net;
};

TEST_F(ConnectionsTest, WeightOrderFullyConnectedIsFromMajorPrunableIsToMajor) {
  TConnectedConnections full(&net, 0, 1);
  TPrunedConnections pruned(&net, 0, 1);
  NumberWeights(full, 2, 3);
  NumberWeights(pruned, 2, 3);
  // w(j->k) = 10j + k + 1
  EXPECT_EQ(WeightsOf(full, FMaskAll), (V{1, 2, 3, 11, 12, 13}));
  EXPECT_EQ(WeightsOf(pruned, FMaskAll), (V{1, 11, 2, 12, 3, 13}));

  const V in = {-1, -2, -3, -4, -5, -6};
  EXPECT_EQ(full.SetWeights(in.data(), FMaskExists), 6);
  EXPECT_EQ(*full.GetWeightPtr(0, 1), -2);
  EXPECT_EQ(*full.GetWeightPtr(1, 0), -4);
  EXPECT_EQ(pruned.SetWeights(in.data(), FMaskExists), 6);
  EXPECT_EQ(*pruned.GetWeightPtr(0, 1), -3);
  EXPECT_EQ(*pruned.GetWeightPtr(1, 0), -2);
}

TEST_F(ConnectionsTest, TypeNamesFlagsAndValidity) {
  TEmptyConnections empty(&net, 0, 1);
  TConnectedConnections full(&net, 0, 1);
  TPrunedConnections pruned(&net, 0, 1);
  EXPECT_STREQ(empty.GetConnectionsNType(), "Empty");
  EXPECT_STREQ(full.GetConnectionsNType(), "FullyConnected");
  EXPECT_STREQ(pruned.GetConnectionsNType(), "Pruneable");
  EXPECT_FALSE(empty.IsConnected());
  EXPECT_TRUE(full.IsConnected());
  EXPECT_TRUE(pruned.IsConnected());
  EXPECT_EQ(empty.GetFlags(0, 0), FMaskAll);
  EXPECT_EQ(full.GetFlags(1, 2), FMaskAll);
  EXPECT_FALSE(empty.IsValid(0, 0));
  EXPECT_FALSE(empty.IsTrainable(0, 0));
  EXPECT_TRUE(full.IsTrainable(1, 2));
  EXPECT_EQ(empty.GetNumWeights(FMaskExists), 0);
  // A new prunable matrix is fully connected and trainable.
  EXPECT_EQ(pruned.GetNumWeights(FMaskExists), 6);
  EXPECT_EQ(pruned.GetNumWeights(FMaskAll), 6);
  EXPECT_EQ(pruned.GetNumWeights(0), 6);
  EXPECT_EQ(full.GetNumWeights(FMaskAll), 6);
  // The base SetFlags accepts 1 and 3 and stores nothing.
  full.SetFlags(0, 0, FMaskExists);
  EXPECT_EQ(full.GetFlags(0, 0), FMaskAll);
}

TEST_F(ConnectionsTest, PrunableArcOperations) {
  TPrunedConnections m(&net, 0, 1);
  NumberWeights(m, 2, 3);

  m.FreezeArc(1, 0);
  EXPECT_EQ(m.GetFlags(1, 0), FMaskExists);
  EXPECT_TRUE(m.IsValid(1, 0));
  EXPECT_FALSE(m.IsTrainable(1, 0));
  EXPECT_EQ(m.GetNumWeights(FMaskAll), 5);
  EXPECT_EQ(m.GetNumWeights(0), 5);
  EXPECT_EQ(m.GetNumWeights(FMaskExists), 6);
  EXPECT_EQ(WeightsOf(m, FMaskAll), (V{1, 2, 12, 3, 13}));
  m.Randomize(0.0, 1.0);
  EXPECT_EQ(*m.GetWeightPtr(1, 0), 11.0);
  m.UnfreezeArc(1, 0);
  EXPECT_EQ(m.GetFlags(1, 0), FMaskAll);

  m.RemoveArc(0, 2);
  EXPECT_EQ(m.GetFlags(0, 2), 0);
  EXPECT_EQ(*m.GetWeightPtr(0, 2), 0.0);
  EXPECT_FALSE(m.IsValid(0, 2));
  m.UnfreezeArc(0, 2); // a missing arc stays missing
  EXPECT_EQ(m.GetFlags(0, 2), 0);
  EXPECT_EQ(m.GetNumWeights(FMaskExists), 5);

  *m.GetWeightPtr(0, 2) = 7.0;
  m.AddArc(0, 2);
  EXPECT_EQ(m.GetFlags(0, 2), FMaskAll);
  EXPECT_EQ(*m.GetWeightPtr(0, 2), 0.0);
  *m.GetWeightPtr(0, 2) = 7.0;
  m.AddArc(0, 2); // existing arc: unchanged
  EXPECT_EQ(*m.GetWeightPtr(0, 2), 7.0);
}

TEST_F(ConnectionsTest, FlagTwoMeansTrainableButMissing) {
  TPrunedConnections m(&net, 0, 1);
  m.SetFlags(1, 1, 2);
  EXPECT_EQ(m.GetFlags(1, 1), 2);
  EXPECT_FALSE(m.IsValid(1, 1));
  EXPECT_TRUE(m.IsTrainable(1, 1));
  EXPECT_EQ(m.GetNumWeights(FMaskExists), 5);
  EXPECT_EQ(m.GetNumWeights(FMaskAll), 5);
  // Randomised, but not part of the forward pass.
  m.Randomize(3.0, 3.0);
  EXPECT_EQ(*m.GetWeightPtr(1, 1), 3.0);
  net.layers[0]->activations = {1.0, 1.0};
  double out[3] = {0, 0, 0};
  m.AddNetInputs(out);
  EXPECT_EQ(out[0], 6.0);
  EXPECT_EQ(out[1], 3.0);
  EXPECT_EQ(out[2], 6.0);
}

TEST_F(ConnectionsTest, AllFlagsRoundTrip) {
  TPrunedConnections m(&net, 0, 1);
  m.FreezeArc(0, 1);
  m.RemoveArc(1, 2);
  const std::vector<unsigned char> flags = m.GetAllFlags();
  EXPECT_EQ(flags, (std::vector<unsigned char>{3, 3, 1, 3, 3}));
  m.MakeAllUntrainable();
  EXPECT_EQ(m.GetNumWeights(FMaskAll), 0);
  EXPECT_EQ(m.GetNumWeights(FMaskExists), 5);
  m.SetAllFlags(flags.data());
  EXPECT_EQ(m.GetAllFlags(), flags);
  EXPECT_EQ(m.GetNumWeights(FMaskAll), 4);
}

TEST_F(ConnectionsTest, AddNetInputsSkipsRemovedArcs) {
  net.layers[0]->activations = {2.0, -1.0};
  TConnectedConnections full(&net, 0, 1);
  TPrunedConnections pruned(&net, 0, 1);
  NumberWeights(full, 2, 3);
  NumberWeights(pruned, 2, 3);
  pruned.SetFlags(0, 1, 0); // removed without clearing the weight
  double a[3] = {0.5, 0.5, 0.5};
  double b[3] = {0.5, 0.5, 0.5};
  full.AddNetInputs(a);
  pruned.AddNetInputs(b);
  // sum_j w(j->k) a_j added to what was there
  EXPECT_EQ(a[0], 0.5 + (1 * 2.0 + 11 * -1.0));
  EXPECT_EQ(a[1], 0.5 + (2 * 2.0 + 12 * -1.0));
  EXPECT_EQ(a[2], 0.5 + (3 * 2.0 + 13 * -1.0));
  EXPECT_EQ(b[0], a[0]);
  EXPECT_EQ(b[1], 0.5 + 12 * -1.0);
  EXPECT_EQ(b[2], a[2]);
}

TEST_F(ConnectionsTest, RandomizeIsReproducibleAndFollowsTheFormula) {
  TConnectedConnections full(&net, 0, 1);
  TPrunedConnections pruned(&net, 0, 1);
  pruned.FreezeArc(1, 1);
  *pruned.GetWeightPtr(1, 1) = 42.0;

  std::srand(7);
  std::vector<double> expected;
  for (int i = 0; i < 6; ++i) {
    const unsigned r = static_cast<unsigned>(std::rand());
    expected.push_back(-1.0 + ((r % 32767u) * (1.0 / 32767)) * (2.0));
  }
  std::srand(7);
  full.Randomize(-1.0, 1.0);
  EXPECT_EQ(full.array_weights, expected); // storage order: to-neuron major

  std::srand(7);
  pruned.Randomize(-1.0, 1.0);
  // The frozen arc (row 1, column 1, storage position 3) draws nothing.
  EXPECT_EQ(pruned.array_weights,
            (V{expected[0], expected[1], expected[2], 42.0, expected[3], expected[4]}));

  full.Randomize(0.25, 0.25);
  for (double w : full.array_weights)
    EXPECT_EQ(w, 0.25);
}

TEST(RandomWeight, NeverDrawsMax) {
  std::srand(1);
  for (int i = 0; i < 70000; ++i) {
    const double w = RandomWeight(0.0, 1.0);
    ASSERT_GE(w, 0.0);
    ASSERT_LT(w, 1.0);
  }
  // The largest possible value.
  EXPECT_LT(0.0 + (32766 * (1.0 / 32767)) * 1.0, 1.0);
}

TEST_F(ConnectionsTest, VisitorsSeeContextAndOrder) {
  struct Recorder : TIterateObj {
    std::vector<std::pair<int, int>> arcs;
    std::vector<int> trainableBits;
    void Visit() override {
      arcs.emplace_back(fromNeuron, toNeuron);
      trainableBits.push_back(trainable);
    }
  };
  net.Connect(0, 1);
  auto *m = net.priv_conns_index[1][0];
  m->FreezeArc(1, 0);
  m->RemoveArc(0, 2);

  Recorder all;
  m->Iterate(all, FMaskExists);
  EXPECT_EQ(all.arcs, (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {0, 1}, {1, 1}, {1, 2}}));
  EXPECT_EQ(all.trainableBits, (std::vector<int>{1, 0, 1, 1, 1}));
  EXPECT_EQ(all.conn, m);
  EXPECT_EQ(all.fromLayer, net.layers[0]);
  EXPECT_EQ(all.toLayer, net.layers[1]);
  EXPECT_EQ(all.fromActivations, net.layers[0]->activations.data());
  EXPECT_EQ(all.toLayerNum, 1);

  Recorder in;
  m->IterateInArcs(in, 0, 0);
  EXPECT_EQ(in.arcs, (std::vector<std::pair<int, int>>{{0, 0}}));
  Recorder out;
  m->IterateOutArcs(out, 1, FMaskExists);
  EXPECT_EQ(out.arcs, (std::vector<std::pair<int, int>>{{1, 0}, {1, 1}, {1, 2}}));

  // A visitor carries its own fields across matrices; an empty matrix never calls it.
  TIterateObjGetNumWeights count;
  m->Iterate(count, FMaskExists);
  net.priv_conns_index[0][1]->Iterate(count, FMaskExists);
  m->Iterate(count, FMaskAll);
  EXPECT_EQ(count.count, 5 + 4);
}

TEST_F(ConnectionsTest, AggregateEqualsDotProductOverExistingArcs) {
  net.Connect(0, 1);
  auto *m = net.priv_conns_index[1][0];
  NumberWeights(*m, 2, 3);
  m->RemoveArc(1, 2);
  net.layers[0]->activations = {0.5, 4.0};
  TIterateObjAggregate sum;
  m->IterateInArcs(sum, 2, FMaskExists);
  EXPECT_EQ(sum.sum, 0.5 * 3);
  TIterateObjAggregate sum1;
  m->IterateInArcs(sum1, 1, FMaskExists);
  EXPECT_EQ(sum1.sum, 0.5 * 2 + 4.0 * 12);
}

TEST_F(ConnectionsTest, CloneKeepsClassWeightsAndFlags) {
  TBasicNetwork other(2);
  FillLayers(other, {2, 3});
  TPrunedConnections m(&net, 0, 1);
  NumberWeights(m, 2, 3);
  m.FreezeArc(0, 2);
  TBasicConnections *copy = m.Clone(&other);
  EXPECT_STREQ(copy->GetConnectionsNType(), "Pruneable");
  EXPECT_EQ(copy->network, &other);
  EXPECT_EQ(WeightsOf(*copy, FMaskExists), WeightsOf(m, FMaskExists));
  EXPECT_EQ(copy->GetFlags(0, 2), FMaskExists);
  *copy->GetWeightPtr(0, 0) = -9.0; // deep copy
  EXPECT_EQ(*m.GetWeightPtr(0, 0), 1.0);
  copy->Destroy();

  TConnectedConnections full(&net, 0, 1);
  NumberWeights(full, 2, 3);
  TBasicConnections *fullCopy = full.Clone(&other);
  EXPECT_STREQ(fullCopy->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(WeightsOf(*fullCopy, FMaskAll), WeightsOf(full, FMaskAll));
  fullCopy->Destroy();
}

TEST_F(ConnectionsTest, TwinIterationHandsOverBothWeights) {
  struct Twin : TIterateObj2 {
    void Visit() override { *weight2 += *weight1; }
  };
  net.Connect(0, 1);
  NumberWeights(*net.priv_conns_index[1][0], 2, 3);
  net.priv_conns_index[1][0]->FreezeArc(0, 0);
  TBasicNetwork copy(net);
  copy.Randomize(0.0, 0.0);
  Twin visitor;
  net.priv_conns_index[1][0]->Iterate2(visitor, &copy, 0);
  auto *c = copy.priv_conns_index[1][0];
  EXPECT_EQ(*c->GetWeightPtr(0, 0), 1.0); // frozen: neither zeroed nor visited
  EXPECT_EQ(*c->GetWeightPtr(1, 2), 13.0);
  EXPECT_EQ(visitor.fromLayer2, copy.layers[0]);
  EXPECT_EQ(visitor.conn2, c);
}

TEST_F(ConnectionsTest, ThreeNetworkIterationOnFullyConnected) {
  struct Sum3 : TIterateObj3 {
    void Visit() override { *weight3 = *weight1 + *weight2; }
  };
  TConnectedNetwork a(2);
  FillLayers(a, {2, 3});
  a.Connect(0, 1);
  NumberWeights(*a.priv_conns_index[1][0], 2, 3);
  TBasicNetwork b(a), c(a);
  Sum3 visitor;
  a.priv_conns_index[1][0]->Iterate3(visitor, &b, &c, 0);
  EXPECT_EQ(*c.priv_conns_index[1][0]->GetWeightPtr(1, 2), 26.0);
  EXPECT_EQ(visitor.toLayer3, c.layers[1]);
}

TEST_F(ConnectionsTest, InsertAndRemoveNeuronsMoveColumnsAndRows) {
  TPrunedConnections m(&net, 0, 1);
  NumberWeights(m, 2, 3);
  m.FreezeArc(1, 2);
  // The network changes the layer count first.
  net.layers[0]->numNeurons = 3;
  std::srand(3);
  m.InsertFromNeuron(1, 5.0, 5.0, false);
  EXPECT_EQ(m.GetNumWeights(FMaskExists), 6);
  EXPECT_EQ(*m.GetWeightPtr(2, 0), 11.0);
  EXPECT_EQ(*m.GetWeightPtr(1, 0), 0.0);
  EXPECT_EQ(m.GetFlags(1, 0), 0);
  EXPECT_EQ(m.GetFlags(2, 2), FMaskExists);

  net.layers[1]->numNeurons = 4;
  m.InsertToNeuron(0, 5.0, 5.0, true);
  EXPECT_EQ(*m.GetWeightPtr(0, 0), 5.0); // drawn even when min == max
  EXPECT_EQ(m.GetFlags(1, 0), FMaskAll);
  EXPECT_EQ(*m.GetWeightPtr(2, 1), 11.0);
  EXPECT_EQ(m.GetFlags(2, 3), FMaskExists);

  net.layers[1]->numNeurons = 3;
  m.RemoveToNeuron(0);
  net.layers[0]->numNeurons = 2;
  m.RemoveFromNeuron(1);
  EXPECT_EQ(WeightsOf(m, FMaskExists), (V{1, 11, 2, 12, 3, 13}));
  EXPECT_EQ(m.GetFlags(1, 2), FMaskExists);

  TConnectedConnections full(&net, 0, 1);
  NumberWeights(full, 2, 3);
  net.layers[0]->numNeurons = 3;
  full.InsertFromNeuron(2, 0.0, 0.0, true);
  EXPECT_EQ(WeightsOf(full, FMaskAll), (V{1, 2, 3, 11, 12, 13, 0, 0, 0}));
  full.RemoveFromNeuron(0);
  EXPECT_EQ(WeightsOf(full, FMaskAll), (V{11, 12, 13, 0, 0, 0}));
  net.layers[0]->numNeurons = 2;
}

TEST_F(ConnectionsTest, InsertionDrawOrder) {
  TConnectedConnections full(&net, 0, 1);
  net.layers[0]->numNeurons = 3;
  std::srand(11);
  V draws;
  for (int i = 0; i < 3; ++i)
    draws.push_back(RandomWeight(-2.0, 2.0));
  std::srand(11);
  full.InsertFromNeuron(0, -2.0, 2.0, true);
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(*full.GetWeightPtr(0, k), draws[k]);
  net.layers[0]->numNeurons = 2;
  full.RemoveFromNeuron(0);
}

using ConnectionsDeathTest = ConnectionsTest;

TEST_F(ConnectionsDeathTest, UnsupportedOperationsStop) {
  TConnectedConnections full(&net, 0, 1);
  TEmptyConnections empty(&net, 0, 1);
  EXPECT_DEATH(full.FreezeArc(0, 0), "Assertion failed: false");
  EXPECT_DEATH(full.RemoveArc(0, 0), "Assertion failed: false");
  EXPECT_DEATH(empty.GetWeightPtr(0, 0), "Assertion failed: false");
  EXPECT_DEATH(full.InsertToNeuron(0, 0.0, 1.0, false), "Assertion failed: attached");
  EXPECT_DEATH(full.SetFlags(0, 0, 2),
               "Assertion failed: \\(val==FMaskAll\\) \\|\\| \\(val==FMaskExists\\)");
}

TEST_F(ConnectionsDeathTest, TwinsMustBeOfTheSameClass) {
  net.Connect(0, 1);
  TConnectedNetwork other(2);
  FillLayers(other, {2, 3});
  other.Connect(0, 1);
  TIterateObj2 visitor;
  EXPECT_DEATH(net.priv_conns_index[1][0]->Iterate2(visitor, &other, 0),
               "conn1 -> GetConnectionsNType\\(\\) == conn2 -> GetConnectionsNType\\(\\)");
}

} // namespace
