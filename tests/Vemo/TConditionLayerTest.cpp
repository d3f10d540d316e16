#include "Vemo/TConditionLayer.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TToConditionConnections.h"
#include "Vemo/TVemo.h"
#include "VemoTestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

using namespace kestrane;
using vemotest::Recorder;

// Two inputs with 3 and 2 membership functions.
class ConditionTest : public ::testing::Test {
protected:
  ConditionTest() {
    const int in[] = {3, 2};
    const int out[] = {3};
    net = std::make_unique<TVemo>(2, in, 4, out, 1);
    layer = net->GetConditionLayer();
    matrix = dynamic_cast<TToConditionConnections *>(net->priv_conns_index[2][1]);
  }

  std::vector<double> Degrees(double x0, double x1) {
    net->layers[1]->activations = {x0, x1};
    layer->Propagate(nullptr);
    return layer->activations;
  }

  std::unique_ptr<TVemo> net;
  TConditionLayer *layer;
  TToConditionConnections *matrix;
};

TEST_F(ConditionTest, CountsMapNeuronsToInputsAndLinkNeighboursWithinAnInput) {
  ASSERT_NE(layer, nullptr);
  ASSERT_NE(matrix, nullptr);
  EXPECT_EQ(layer->GetNumInputs(), 2);
  EXPECT_EQ(layer->GetMFCounts(), (std::vector<int>{3, 2}));
  const int inputs[] = {0, 0, 0, 1, 1};
  const double centres[] = {0.0, 0.5, 1.0, 0.0, 1.0};
  for (int j = 0; j < 5; ++j) {
    EXPECT_EQ(layer->GetInputOfNeuron(j), inputs[j]) << j;
    EXPECT_EQ(layer->nodes[j].centre, centres[j]) << j;
  }
  EXPECT_EQ(layer->nodes[0].left, nullptr);
  EXPECT_EQ(layer->nodes[1].left, &layer->nodes[0]);
  EXPECT_EQ(layer->nodes[1].right, &layer->nodes[2]);
  EXPECT_EQ(layer->nodes[2].right, nullptr);
  EXPECT_EQ(layer->nodes[3].left, nullptr);
  EXPECT_EQ(layer->nodes[3].right, &layer->nodes[4]);
  EXPECT_EQ(layer->GetLayerNType(), std::string("FuzzyCondition"));
  EXPECT_EQ(layer->GetLayerKind(), 4);
}

TEST_F(ConditionTest, PropagateGivesMembershipDegreesOfEachInput) {
  const std::vector<double> expected = {0.5, 0.5, 0.0, 0.2, 0.8};
  const std::vector<double> got = Degrees(0.25, 0.8);
  for (int j = 0; j < 5; ++j)
    EXPECT_DOUBLE_EQ(got[j], expected[j]) << j;
}

TEST_F(ConditionTest, ValuesBeyondTheScaleFallIntoTheShoulders) {
  EXPECT_EQ(Degrees(-0.5, 1.5), (std::vector<double>{1, 0, 0, 0, 1}));
  EXPECT_EQ(Degrees(3.0, -2.0), (std::vector<double>{0, 0, 1, 1, 0}));
  EXPECT_EQ(Degrees(0.0, 1.0), (std::vector<double>{1, 0, 0, 0, 1}));
}

TEST_F(ConditionTest, ArcsExistOnlyFromTheNeuronsOwnInput) {
  EXPECT_TRUE(matrix->IsValid(0, 2));
  EXPECT_FALSE(matrix->IsValid(1, 2));
  EXPECT_TRUE(matrix->IsValid(1, 3));
  EXPECT_FALSE(matrix->IsValid(0, 5));
  EXPECT_FALSE(matrix->IsValid(0, -1));
  EXPECT_EQ(matrix->GetWeightPtr(7, 4), &layer->nodes[4].centre);
  EXPECT_EQ(matrix->GetNumWeights(FMaskExists), 5);
  EXPECT_EQ(matrix->GetConnectionsNType(), std::string("ToConditionConnections"));
}

TEST_F(ConditionTest, IterationVisitsNeuronsInOrder) {
  Recorder all;
  matrix->Iterate(all, FMaskAll);
  EXPECT_EQ(all.ToNeurons(), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(all.FromNeurons(), (std::vector<int>{0, 0, 0, 1, 1}));
  EXPECT_EQ(all.arcs[4].weight, &layer->nodes[4].centre);

  Recorder out1;
  matrix->IterateOutArcs(out1, 1, FMaskAll);
  EXPECT_EQ(out1.ToNeurons(), (std::vector<int>{3, 4}));

  Recorder in2;
  matrix->IterateInArcs(in2, 2, FMaskAll);
  ASSERT_EQ(in2.arcs.size(), 1u);
  EXPECT_EQ(in2.arcs[0].from, 0);
  EXPECT_EQ(in2.arcs[0].to, 2);
}

TEST_F(ConditionTest, FrozenArcIsSkippedByTheTrainableMaskAndReportedUntrainable) {
  matrix->FreezeArc(0, 1);
  EXPECT_EQ(matrix->GetFlags(0, 1), FMaskExists);
  EXPECT_TRUE(matrix->IsValid(0, 1));
  EXPECT_FALSE(matrix->IsTrainable(0, 1));
  EXPECT_TRUE(matrix->IsTrainable(0, 2));
  EXPECT_FALSE(matrix->IsTrainable(1, 2)); // no such arc

  Recorder trainable;
  matrix->Iterate(trainable, FMaskAll);
  EXPECT_EQ(trainable.ToNeurons(), (std::vector<int>{0, 2, 3, 4}));
  Recorder existing;
  matrix->Iterate(existing, FMaskExists);
  ASSERT_EQ(existing.arcs.size(), 5u);
  EXPECT_EQ(existing.arcs[1].trainable, 0);
  EXPECT_EQ(existing.arcs[0].trainable, 1);

  matrix->UnfreezeArc(0, 1);
  EXPECT_EQ(matrix->GetFlags(0, 1), FMaskAll);
}

TEST_F(ConditionTest, RandomizeZeroZeroClearsOnlyTrainableCentres) {
  matrix->FreezeArc(0, 2);
  matrix->Randomize(0.0, 0.0);
  EXPECT_EQ(layer->nodes[0].centre, 0.0);
  EXPECT_EQ(layer->nodes[1].centre, 0.0);
  EXPECT_EQ(layer->nodes[2].centre, 1.0); // frozen
  EXPECT_EQ(layer->nodes[4].centre, 0.0);
  layer->ResetCentres();
  EXPECT_EQ(layer->nodes[1].centre, 0.5);
  EXPECT_EQ(layer->nodes[2].centre, 1.0);
}

TEST_F(ConditionTest, ClonesKeepLoadedCentresAndMarks) {
  const double loaded[] = {0.1, 0.4, 0.9, 0.2, 0.7};
  EXPECT_EQ(matrix->SetWeights(loaded, FMaskExists), 5);
  layer->nodes[3].trainable = false;
  matrix->FreezeArc(0, 0);

  TBasicNetwork copy(*net);
  auto *layerCopy = dynamic_cast<TConditionLayer *>(copy.layers[2]);
  auto *matrixCopy = dynamic_cast<TToConditionConnections *>(copy.priv_conns_index[2][1]);
  ASSERT_NE(layerCopy, nullptr);
  ASSERT_NE(matrixCopy, nullptr);
  EXPECT_EQ(matrixCopy->conditionLayer, layerCopy);
  for (int j = 0; j < 5; ++j)
    EXPECT_EQ(layerCopy->nodes[j].centre, loaded[j]) << j;
  EXPECT_FALSE(layerCopy->nodes[3].trainable);
  EXPECT_EQ(matrixCopy->GetFlags(0, 0), FMaskAll); // flags start afresh
  EXPECT_EQ(layerCopy->nodes[1].left, &layerCopy->nodes[0]);
  EXPECT_EQ(layerCopy->GetLayerActFunction(), ActVemoCondition);
}

TEST_F(ConditionTest, Iterate2And3HandOverTheTwinCentres) {
  TBasicNetwork copy2(*net);
  TBasicNetwork copy3(*net);
  auto *layer2 = dynamic_cast<TConditionLayer *>(copy2.layers[2]);
  auto *layer3 = dynamic_cast<TConditionLayer *>(copy3.layers[2]);
  matrix->FreezeArc(1, 4);

  vemotest::Recorder2 r2;
  matrix->Iterate2(r2, &copy2, 0);
  ASSERT_EQ(r2.pairs.size(), 4u);
  EXPECT_EQ(r2.pairs[3].first, &layer->nodes[3].centre);
  EXPECT_EQ(r2.pairs[3].second, &layer2->nodes[3].centre);

  vemotest::Recorder3 r3;
  matrix->Iterate3(r3, &copy2, &copy3, FMaskExists);
  ASSERT_EQ(r3.weights.size(), 5u);
  EXPECT_EQ(r3.weights[4][1], &layer2->nodes[4].centre);
  EXPECT_EQ(r3.weights[4][2], &layer3->nodes[4].centre);
}

TEST_F(ConditionTest, BadCountsAreRejectedBeforeAnythingChanges) {
  struct Case {
    int inputs;
    std::vector<int> counts;
  };
  const Case cases[] = {
      {2, {1, 4}}, // fewer than 2 functions
      {2, {3, 3}}, // does not add up to the 5 neurons
      {2, {2, 2}},
      {-1, {}},
  };
  for (const Case &c : cases) {
    EXPECT_THROW(layer->SetInputMFCounts(c.inputs, c.counts.data()), TException);
    EXPECT_EQ(layer->GetMFCounts(), (std::vector<int>{3, 2}));
  }
  try {
    const int counts[] = {1, 4};
    layer->SetInputMFCounts(2, counts);
  } catch (const TException &e) {
    EXPECT_EQ(e.GetMessage(), "Must be >= 2 MF per input");
    EXPECT_EQ(e.GetCategory(), kBadParameter);
  }
}

TEST(ConditionMatrix, NeedsAConditionLayer) {
  TBasicNetwork net(3);
  for (int i = 0; i < 3; ++i)
    net.layers[i] = new TSimpleLayer(&net, i, 2);
  EXPECT_THROW(TToConditionConnections(&net, 1, 2), TException);
}

} // namespace
