#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"
#include "tests/NeuralNets/NetFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace kestrane;
using kestrane_test::FillLayers;
using kestrane_test::NumberWeights;
using kestrane_test::WeightsOf;
using V = std::vector<double>;

// bias(1) -> hidden(2, tanh) <- input(2); hidden -> output(1, linear) <- bias.
// Plus a matrix from the output back to the hidden layer, which Recall ignores.
class SmallNetwork : public ::testing::Test {
protected:
  SmallNetwork() : net(4, sizes) {
    net.layers[0]->SetLayerActFunction(ActBias);
    net.layers[2]->SetLayerActFunction(ActTanh);
    net.layers[3]->SetLayerActFunction(ActLinear);
    net.Connect(0, 2);
    net.Connect(1, 2);
    net.Connect(2, 3);
    net.Connect(0, 3);
    net.Connect(3, 2);
    W(0, 2, 0, 0) = 0.1;
    W(0, 2, 0, 1) = 0.2;
    W(1, 2, 0, 0) = 1.0;
    W(1, 2, 1, 0) = 2.0;
    W(1, 2, 0, 1) = -1.0;
    W(1, 2, 1, 1) = 0.5;
    W(2, 3, 0, 0) = 1.0;
    W(2, 3, 1, 0) = -2.0;
    W(0, 3, 0, 0) = 0.3;
    W(3, 2, 0, 0) = 100.0;
    W(3, 2, 0, 1) = 100.0;
  }
  double &W(int fromLayer, int toLayer, int j, int k) {
    return *net.priv_conns_index[toLayer][fromLayer]->GetWeightPtr(j, k);
  }
  static double Expected(double x0, double x1) {
    const double h0 = std::tanh(0.1 + (1.0 * x0 + 2.0 * x1));
    const double h1 = std::tanh(0.2 + (-1.0 * x0 + 0.5 * x1));
    return 0.3 + (1.0 * h0 + -2.0 * h1);
  }
  static constexpr int sizes[4] = {1, 2, 2, 1};
  TConnectedNetwork net;
};

TEST_F(SmallNetwork, RecallComputesTheForwardPassInLayerOrder) {
  const double input[2] = {0.5, -1.0};
  double output[1] = {0.0};
  testing::internal::CaptureStderr();
  net.Recall(input, output);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_DOUBLE_EQ(output[0], Expected(0.5, -1.0));
  EXPECT_EQ(net.layers[1]->activations, (V{0.5, -1.0}));
  EXPECT_EQ(net.layers[0]->activations[0], 1.0);
  // Same again: the higher-to-lower matrix never feeds back.
  net.Recall(input, output);
  EXPECT_DOUBLE_EQ(output[0], Expected(0.5, -1.0));
}

TEST_F(SmallNetwork, NetworkWeightVectorRunsOverFromLayersFirst) {
  net.Disconnect(3, 2);
  // [2][0], [3][0], then [2][1], then [3][2]; fully connected: column by column.
  EXPECT_EQ(WeightsOf(net, FMaskAll), (V{0.1, 0.2, 0.3, 1.0, -1.0, 2.0, 0.5, 1.0, -2.0}));
  EXPECT_EQ(net.GetNumWeights(FMaskExists), 9);
  V w = WeightsOf(net, FMaskAll);
  for (double &x : w)
    x = -x;
  EXPECT_EQ(net.SetWeights(w.data(), FMaskAll), 9);
  EXPECT_EQ(W(1, 2, 1, 0), -2.0);
  EXPECT_EQ(W(0, 3, 0, 0), -0.3);
}

TEST(TBasicNetwork, PrunableMatricesJoinTheVectorRowByRow) {
  TBasicNetwork net(3);
  FillLayers(net, {1, 2, 2});
  net.Connect(1, 2);
  net.Connect(0, 2);
  NumberWeights(*net.priv_conns_index[2][1], 2, 2);
  NumberWeights(*net.priv_conns_index[2][0], 1, 2);
  EXPECT_STREQ(net.priv_conns_index[2][1]->GetConnectionsNType(), "Pruneable");
  // Layer 0's matrix first, then layer 1's in to-neuron major order.
  EXPECT_EQ(WeightsOf(net, FMaskAll), (V{1, 2, 1, 11, 2, 12}));
}

TEST(TBasicNetwork, FreshGridIsAllEmpty) {
  TBasicNetwork net(3);
  FillLayers(net, {1, 2, 3});
  EXPECT_EQ(net.numLayers, 3);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 2);
  for (int t = 0; t < 3; ++t)
    for (int f = 0; f < 3; ++f) {
      EXPECT_STREQ(net.priv_conns_index[t][f]->GetConnectionsNType(), "Empty");
      EXPECT_EQ(net.priv_conns_index[t][f]->from, f);
      EXPECT_EQ(net.priv_conns_index[t][f]->to, t);
    }
  EXPECT_EQ(net.GetNumWeights(FMaskExists), 0);
  ASSERT_NE(net.registry, nullptr);
  EXPECT_EQ(net.registry->GetUsed(), 12);
  EXPECT_STREQ(net.GetNetworkNType(), "Basic");
  EXPECT_EQ(net.GetNumNeurons(), 6);
  EXPECT_EQ(net.GetNeuron(0), net.layers[0]->GetNeuron(0));
  EXPECT_EQ(net.GetNeuron(3), net.layers[2]->GetNeuron(0));
  EXPECT_EQ(net.GetNeuron(5), net.layers[2]->GetNeuron(2));
}

TEST(TBasicNetwork, ConnectKeepsAnExistingMatrixDisconnectResets) {
  TBasicNetwork net(2);
  FillLayers(net, {2, 2});
  net.Connect(0, 1);
  TBasicConnections *first = net.priv_conns_index[1][0];
  *first->GetWeightPtr(1, 1) = 5.0;
  net.Connect(0, 1);
  EXPECT_EQ(net.priv_conns_index[1][0], first);
  EXPECT_EQ(*first->GetWeightPtr(1, 1), 5.0);
  net.Disconnect(0, 1);
  EXPECT_STREQ(net.priv_conns_index[1][0]->GetConnectionsNType(), "Empty");
  net.Connect(0, 1);
  EXPECT_EQ(WeightsOf(net, FMaskAll), (V{0, 0, 0, 0}));

  TConnectedNetwork cnet(2);
  FillLayers(cnet, {2, 2});
  cnet.Connect(0, 1);
  EXPECT_STREQ(cnet.priv_conns_index[1][0]->GetConnectionsNType(), "FullyConnected");
  EXPECT_STREQ(cnet.GetNetworkNType(), "Connected");
}

TEST(TBasicNetwork, SimpleLayerAsInputLayerWarnsAndStillWorks) {
  TBasicNetwork net(3);
  FillLayers(net, {1, 2, 1});
  net.layers[0]->SetLayerActFunction(ActBias);
  net.layers[1]->SetLayerActFunction(ActSaturatedLinear);
  net.layers[2]->SetLayerActFunction(ActLinear);
  net.Connect(0, 1);
  net.Connect(1, 2);
  *net.priv_conns_index[1][0]->GetWeightPtr(0, 0) = 0.25;
  *net.priv_conns_index[1][0]->GetWeightPtr(0, 1) = -0.5;
  *net.priv_conns_index[2][1]->GetWeightPtr(0, 0) = 1.0;
  *net.priv_conns_index[2][1]->GetWeightPtr(1, 0) = 10.0;
  const double input[2] = {0.5, 0.75};
  double output[1];
  testing::internal::CaptureStderr();
  net.Recall(input, output);
  net.Recall(input, output);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "!Warning: changed input layer (TSimpleLayer)\n"
            "!Warning: changed input layer (TSimpleLayer)\n");
  // f(input + bias contribution)
  EXPECT_EQ(net.layers[1]->activations, (V{0.75, 0.25}));
  EXPECT_EQ(output[0], 0.75 + 10.0 * 0.25);
}

TEST(TBasicNetwork, InputLayerElsewhereOutputsZerosAndWarns) {
  TBasicNetwork net(3);
  net.layers[0] = new TSimpleLayer(&net, 0, 1);
  net.layers[1] = new TSimpleInputLayer(&net, 1, 1);
  net.layers[2] = new TSimpleInputLayer(&net, 2, 2);
  net.layers[0]->SetLayerActFunction(ActBias);
  net.Connect(1, 2);
  const double input[1] = {3.0};
  double output[2] = {9, 9};
  testing::internal::CaptureStderr();
  net.Recall(input, output);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "!Warning: changed input layer (TSimpleInputLayer)\n");
  EXPECT_EQ(output[0], 0.0);
  EXPECT_EQ(output[1], 0.0);
  EXPECT_EQ(net.layers[1]->activations[0], 3.0);
}

TEST_F(SmallNetwork, CopiesKeepClassesAndWeightsWithAFreshRegistry) {
  net.registry->AddFunction(ActLinear, "my-linear");
  net.layers[2]->GetNeuron(1)->SetActFunction(ActSigmoid);
  const int dims[1] = {2};
  net.layers[2]->SetDimensions(1, dims);
  net.priv_conns_index[2][3]->Destroy();
  net.priv_conns_index[2][3] = new TPrunedConnections(&net, 3, 2);
  net.priv_conns_index[2][3]->FreezeArc(0, 1);

  TBasicNetwork copy(net);
  EXPECT_STREQ(copy.GetNetworkNType(), "Basic");
  EXPECT_EQ(copy.numLayers, 4);
  EXPECT_EQ(copy.inLayer, 1);
  EXPECT_EQ(copy.outLayer, 3);
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(copy.layers[i]->GetLayerNType(), net.layers[i]->GetLayerNType());
    EXPECT_EQ(copy.layers[i]->network, &copy);
    for (int j = 0; j < 4; ++j) {
      EXPECT_STREQ(copy.priv_conns_index[i][j]->GetConnectionsNType(),
                   net.priv_conns_index[i][j]->GetConnectionsNType());
      EXPECT_EQ(copy.priv_conns_index[i][j]->network, &copy);
    }
  }
  EXPECT_EQ(copy.layers[2]->GetNeuron(1)->GetActFunction(), ActSigmoid);
  EXPECT_EQ(copy.layers[2]->GetNumDimensions(), 1);
  EXPECT_EQ(copy.priv_conns_index[2][3]->GetFlags(0, 1), FMaskExists);
  EXPECT_EQ(WeightsOf(copy, FMaskExists), WeightsOf(net, FMaskExists));
  EXPECT_NE(copy.registry.get(), net.registry.get());
  EXPECT_EQ(copy.registry->GetUsed(), 12);
  EXPECT_EQ(copy.registry->GetFunction("my-linear"), ActError);

  // The copy computes the same function and is independent of its source.
  const double input[2] = {0.25, 0.5};
  double a[1], b[1];
  net.Recall(input, a);
  copy.Recall(input, b);
  EXPECT_EQ(a[0], b[0]);
  copy.Randomize(0.0, 0.0);
  EXPECT_EQ(W(1, 2, 1, 0), 2.0);

  TBasicNetwork assigned(2);
  FillLayers(assigned, {3, 3});
  assigned.Connect(0, 1);
  assigned = net;
  EXPECT_EQ(assigned.numLayers, 4);
  EXPECT_STREQ(assigned.priv_conns_index[2][1]->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(WeightsOf(assigned, FMaskExists), WeightsOf(net, FMaskExists));
  EXPECT_EQ(assigned.registry->GetFunction("my-linear"), ActError);
  TBasicNetwork &self = assigned;
  assigned = self;
  EXPECT_EQ(WeightsOf(assigned, FMaskExists), WeightsOf(net, FMaskExists));
}

TEST_F(SmallNetwork, RandomizeVisitsMatricesInWeightVectorOrder) {
  net.Disconnect(3, 2);
  std::srand(123);
  net.Randomize(-0.5, 0.5);
  const V first = WeightsOf(net, FMaskAll);
  std::srand(123);
  net.Randomize(-0.5, 0.5);
  EXPECT_EQ(WeightsOf(net, FMaskAll), first);
  // Matrix [2][0] draws first (to-neuron major), then [3][0], [2][1], [3][2].
  std::srand(123);
  const double r0 = RandomWeight(-0.5, 0.5);
  const double r1 = RandomWeight(-0.5, 0.5);
  const double r2 = RandomWeight(-0.5, 0.5);
  const double r3 = RandomWeight(-0.5, 0.5);
  const double r4 = RandomWeight(-0.5, 0.5);
  EXPECT_EQ(W(0, 2, 0, 0), r0);
  EXPECT_EQ(W(0, 2, 0, 1), r1);
  EXPECT_EQ(W(0, 3, 0, 0), r2);
  EXPECT_EQ(W(1, 2, 0, 0), r3);
  EXPECT_EQ(W(1, 2, 1, 0), r4);
}

TEST_F(SmallNetwork, InsertLayerShiftsEverythingAboveAndRenumbers) {
  auto *extra = new TSimpleLayer(&net, 0, 3);
  extra->SetLayerActFunction(ActLinear);
  net.InsertLayer(0, extra);
  EXPECT_EQ(net.numLayers, 5);
  EXPECT_EQ(net.inLayer, 2);
  EXPECT_EQ(net.outLayer, 4);
  EXPECT_EQ(net.layers[0], extra);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(net.layers[i]->layerNum, i);
    EXPECT_EQ(net.layers[i]->GetNeuron(0)->layerNum, i);
    for (int j = 0; j < 5; ++j) {
      EXPECT_EQ(net.priv_conns_index[i][j]->from, j);
      EXPECT_EQ(net.priv_conns_index[i][j]->to, i);
      if (i == 0 || j == 0) {
        EXPECT_FALSE(net.priv_conns_index[i][j]->IsConnected());
      }
    }
  }
  EXPECT_EQ(W(1, 3, 0, 1), 0.2); // old [2][0]
  EXPECT_EQ(W(4, 3, 0, 0), 100.0);
  const double input[2] = {0.5, -1.0};
  double output[1];
  net.Recall(input, output);
  EXPECT_DOUBLE_EQ(output[0], Expected(0.5, -1.0));

  net.RemoveLayer(0);
  EXPECT_EQ(net.numLayers, 4);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 3);
  EXPECT_EQ(W(0, 2, 0, 1), 0.2);
  net.Recall(input, output);
  EXPECT_DOUBLE_EQ(output[0], Expected(0.5, -1.0));
}

TEST_F(SmallNetwork, InsertAndRemoveAHiddenLayerInTheMiddle) {
  auto *hidden = new TSimpleLayer(&net, 2, 4);
  hidden->SetLayerActFunction(ActLinear);
  net.InsertLayer(2, hidden);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 4);
  EXPECT_EQ(W(1, 3, 1, 0), 2.0);
  net.Connect(1, 2);
  net.RemoveLayer(2);
  EXPECT_EQ(net.outLayer, 3);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_EQ(net.priv_conns_index[i][j]->to, i);
  const double input[2] = {0.5, -1.0};
  double output[1];
  net.Recall(input, output);
  EXPECT_DOUBLE_EQ(output[0], Expected(0.5, -1.0));
  // Inserting at the end is allowed.
  net.InsertLayer(4, new TSimpleLayer(&net, 4, 1));
  EXPECT_EQ(net.numLayers, 5);
  EXPECT_EQ(net.outLayer, 3);
}

TEST_F(SmallNetwork, AddAndRemoveNeuronKeepMatricesInStep) {
  std::srand(5);
  net.AddNeuron(2, 1, 0.0, 0.0, true);
  ASSERT_EQ(net.layers[2]->numNeurons, 3);
  EXPECT_EQ(net.priv_conns_index[2][1]->GetNumWeights(FMaskAll), 6);
  EXPECT_EQ(net.priv_conns_index[3][2]->GetNumWeights(FMaskAll), 3);
  EXPECT_EQ(net.priv_conns_index[2][3]->GetNumWeights(FMaskAll), 3);
  EXPECT_EQ(W(1, 2, 1, 2), 0.5); // old to-neuron 1 moved to 2
  EXPECT_EQ(W(2, 3, 2, 0), -2.0);
  EXPECT_EQ(W(2, 3, 1, 0), 0.0);
  // A zero-weighted new neuron leaves the output unchanged.
  const double input[2] = {0.5, -1.0};
  double output[1];
  net.Recall(input, output);
  EXPECT_DOUBLE_EQ(output[0], Expected(0.5, -1.0));

  net.RemoveNeuron(2, 1);
  EXPECT_EQ(net.layers[2]->numNeurons, 2);
  net.Recall(input, output);
  EXPECT_DOUBLE_EQ(output[0], Expected(0.5, -1.0));
}

TEST(TBasicNetwork, NeuronEditsOnADiagonalMatrixChangeRowAndColumn) {
  TBasicNetwork net(4);
  FillLayers(net, {1, 1, 2, 1});
  net.Connect(2, 2);
  NumberWeights(*net.priv_conns_index[2][2], 2, 2);
  net.AddNeuron(2, 0, 0.0, 0.0, false);
  auto *diag = net.priv_conns_index[2][2];
  EXPECT_EQ(diag->GetNumWeights(FMaskExists), 4);
  EXPECT_EQ(*diag->GetWeightPtr(2, 2), 12.0);
  EXPECT_EQ(*diag->GetWeightPtr(1, 2), 2.0);
  EXPECT_FALSE(diag->IsValid(0, 1));
  net.RemoveNeuron(2, 0);
  EXPECT_EQ(WeightsOf(*diag, FMaskExists), (V{1, 11, 2, 12}));
  net.RemoveNeuron(2, 1);
  net.RemoveNeuron(2, 0);
  EXPECT_EQ(diag->GetNumWeights(FMaskExists), 0);
  net.AddNeuron(2, 0, 1.0, 1.0, true);
  EXPECT_EQ(WeightsOf(*diag, FMaskExists), (V{1.0}));
}

TEST(TBasicNetwork, PruneDeadNeuronsRemovesHiddenNeuronsWithoutOutgoingArcs) {
  TBasicNetwork net(5);
  FillLayers(net, {1, 2, 3, 2, 1});
  net.Connect(1, 2);
  net.Connect(2, 3);
  net.Connect(3, 4);
  net.Connect(0, 4);
  EXPECT_EQ(net.PruneDeadNeurons(), 0);

  auto *m23 = net.priv_conns_index[3][2];
  m23->RemoveArc(1, 0);
  m23->RemoveArc(1, 1);
  m23->RemoveArc(2, 0);
  m23->FreezeArc(2, 1); // frozen arcs still count as outgoing
  net.priv_conns_index[4][3]->RemoveArc(0, 0);
  NumberWeights(*m23, 3, 2);
  EXPECT_EQ(net.PruneDeadNeurons(), 2);
  EXPECT_EQ(net.layers[3]->numNeurons, 1);
  EXPECT_EQ(net.layers[2]->numNeurons, 2);
  EXPECT_EQ(net.layers[1]->numNeurons, 2); // the input layer is never pruned
  EXPECT_EQ(net.layers[0]->numNeurons, 1);
  // Neuron 0 of layer 3 and neuron 1 of layer 2 went; the matrix closed up.
  EXPECT_EQ(WeightsOf(*net.priv_conns_index[3][2], FMaskExists), (V{2, 22}));
}

TEST(TBasicNetwork, NeuronArcIterationVisitsAllLayers) {
  TBasicNetwork net(3);
  FillLayers(net, {1, 2, 2});
  net.Connect(0, 2);
  net.Connect(1, 2);
  net.Connect(2, 2);
  TIterateObjCount count;
  net.IterateNeuronInArcs(count, 2, 1, FMaskExists);
  EXPECT_EQ(count.count, 1 + 2 + 2);
  TIterateObjCount out;
  net.IterateNeuronOutArcs(out, 1, 0, FMaskExists);
  EXPECT_EQ(out.count, 2);
}

TEST(TBasicNetwork, FillUnsetLayersLetsAHalfBuiltNetworkBeDestroyed) {
  auto net = std::make_unique<TBasicNetwork>(3);
  net->layers[0] = new TSimpleLayer(net.get(), 0, 2);
  net->FillUnsetLayers();
  EXPECT_EQ(net->layers[2]->numNeurons, 0);
  EXPECT_EQ(net->layers[2]->layerNum, 2);
  net.reset();
}

TEST(TConnectedNetwork, SizesConstructorMakesInputAndSimpleLayers) {
  const int sizes[3] = {1, 3, 2};
  TConnectedNetwork net(3, sizes);
  EXPECT_STREQ(net.layers[0]->GetLayerNType(), "Simple");
  EXPECT_STREQ(net.layers[1]->GetLayerNType(), "Input");
  EXPECT_STREQ(net.layers[2]->GetLayerNType(), "Simple");
  EXPECT_EQ(net.layers[1]->numNeurons, 3);
  EXPECT_EQ(net.GetNumNeurons(), 6);
}

using TBasicNetworkDeathTest = SmallNetwork;

TEST_F(TBasicNetworkDeathTest, StructuralAssertions) {
  EXPECT_DEATH(net.RemoveLayer(1), "Assertion failed: LayerNum!=inLayer");
  EXPECT_DEATH(net.RemoveLayer(3), "Assertion failed: LayerNum!=outLayer");
  EXPECT_DEATH(net.InsertLayer(5, new TSimpleLayer(&net, 5, 1)),
               "Assertion failed: LayerNum<=numLayers");
  EXPECT_DEATH(net.AddNeuron(1, 0, 0, 0, true), "Assertion failed: LayerNum!=inLayer");
  EXPECT_DEATH(net.RemoveNeuron(2, -1), "Assertion failed: node>=0");
  EXPECT_DEATH(net.GetNeuron(6), "Assertion failed: index<GetNumNeurons\\(\\)");
  TBasicNetwork basic(2);
  FillLayers(basic, {1, 1});
  EXPECT_DEATH(basic.CreateInAllArcsIterator(), "Assertion failed: false");
  EXPECT_DEATH(net.Reserved11(), "Assertion failed: false");
}

TEST(TBasicNetworkDestroyDeathTest, UnsetLayerStopsTheDestructor) {
  EXPECT_DEATH({ TBasicNetwork net(2); }, "Assertion failed: layers\\[i\\] != NULL");
}

} // namespace
