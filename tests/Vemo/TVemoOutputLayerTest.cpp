#include "Vemo/TVemoOutputLayer.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TToOutputConnections.h"
#include "Vemo/TVemo.h"
#include "VemoTestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

using namespace kestrane;
using vemotest::Recorder;

// A network whose outputs have the given membership-function counts.
std::unique_ptr<TVemo> MakeNet(std::vector<int> outCounts) {
  const int in[] = {2};
  return std::make_unique<TVemo>(1, in, 1, outCounts.data(), static_cast<int>(outCounts.size()));
}

TToOutputConnections *CentresOf(TVemo &net) {
  return dynamic_cast<TToOutputConnections *>(net.priv_conns_index[5][4]);
}

// Defuzzifies the given action activations with the given centres.
std::vector<double> Defuzzify(TVemo &net, std::vector<double> centres, std::vector<double> action) {
  CentresOf(net)->weights = centres;
  net.layers[4]->activations = action;
  net.layers[5]->Propagate(nullptr);
  return net.layers[5]->activations;
}

TEST(VemoOutputLayer, CentreOfGravityOfEachOutput) {
  auto net = MakeNet({3});
  struct Case {
    std::vector<double> action;
    double expected;
  };
  const Case cases[] = {
      {{0.2, 0.6, 0.2}, 0.5}, {{0.9, 0.1, 0.0}, 0.05}, {{0.0, 0.0, 0.0}, 0.0}, // no division
  };
  for (const Case &c : cases)
    EXPECT_DOUBLE_EQ(Defuzzify(*net, {0.0, 0.5, 1.0}, c.action)[0], c.expected);
}

TEST(VemoOutputLayer, ZeroNumeratorGivesZeroWhateverTheDenominator) {
  auto net = MakeNet({2});
  EXPECT_EQ(Defuzzify(*net, {0.0, 1.0}, {0.7, 0.0})[0], 0.0);
}

TEST(VemoOutputLayer, OutputsAreComputedFromTheirOwnActionNeurons) {
  auto net = MakeNet({2, 3});
  const std::vector<double> y =
      Defuzzify(*net, {0.0, 1.0, 0.0, 0.5, 1.0}, {0.5, 0.5, 0.0, 0.0, 0.4});
  EXPECT_DOUBLE_EQ(y[0], 0.5);
  EXPECT_DOUBLE_EQ(y[1], 1.0);
}

TEST(VemoOutputLayer, ValueOutsideTheScaleIsPrintedAndRaised) {
  auto net = MakeNet({2});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::vector<double> centres;
    std::vector<double> action;
    const char *printed;
  };
  const Case cases[] = {
      {{0.0, 2.0}, {0.0, 0.5}, "2\n"},
      {{-1.0, 1.0}, {0.5, 0.0}, "-1\n"},
      {{inf, 1.0}, {inf, 0.5}, "nan\n"}, // inf / inf
  };
  for (const Case &c : cases) {
    testing::internal::CaptureStdout();
    try {
      Defuzzify(*net, c.centres, c.action);
      ADD_FAILURE() << "no exception for " << c.printed;
    } catch (const TException &e) {
      EXPECT_EQ(e.GetMessage(), "Defuzzified output outside [0, 1]");
      EXPECT_EQ(e.GetCategory(), kBadParameter);
      EXPECT_EQ(e.GetFunctionName(), "TVemoOutputLayer::Propagate");
    }
    const std::string out = testing::internal::GetCapturedStdout();
    // Sign of a NaN is platform-dependent.
    EXPECT_TRUE(out == c.printed || out == std::string("-") + c.printed) << out;
  }
  // A sum that is not a number counts as 0.
  EXPECT_EQ(Defuzzify(*net, {nan, 1.0}, {0.5, 0.0})[0], 0.0);
}

TEST(VemoOutputLayer, CountsBuildTheActionToOutputMap) {
  auto net = MakeNet({2, 3});
  auto *layer = net->GetOutputLayer();
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->GetTotalMF(), 5);
  EXPECT_EQ(layer->GetMFCounts(), (std::vector<int>{2, 3}));
  const int map[] = {0, 0, 1, 1, 1};
  for (int k = 0; k < 5; ++k)
    EXPECT_EQ(layer->GetOutputOfAction(k), map[k]);
  EXPECT_EQ(layer->GetLayerNType(), std::string("Defuzzify"));
  EXPECT_EQ(layer->GetLayerKind(), 5);
}

TEST(ToOutputConnections, NewCentresStartAtZeroAndResetEvenly) {
  auto net = MakeNet({2, 3});
  TToOutputConnections *m = CentresOf(*net);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->weights, std::vector<double>(5, 0.0));
  m->ResetCentres();
  EXPECT_EQ(m->weights, (std::vector<double>{0.0, 1.0, 0.0, 0.5, 1.0}));
}

TEST(ToOutputConnections, ArcsAndIterationFollowTheOutputMap) {
  auto net = MakeNet({2, 3});
  TToOutputConnections *m = CentresOf(*net);
  EXPECT_FALSE(m->IsValid(2, 0));
  EXPECT_TRUE(m->IsValid(2, 1));
  EXPECT_FALSE(m->IsValid(5, 1));
  EXPECT_FALSE(m->IsValid(-1, 0));
  EXPECT_FALSE(m->IsValid(0, 2));
  EXPECT_EQ(m->GetWeightPtr(3, 99), &m->weights[3]);

  Recorder in1;
  m->IterateInArcs(in1, 1, FMaskAll);
  EXPECT_EQ(in1.FromNeurons(), (std::vector<int>{2, 3, 4}));
  Recorder out3;
  m->IterateOutArcs(out3, 3, FMaskAll);
  ASSERT_EQ(out3.arcs.size(), 1u);
  EXPECT_EQ(out3.arcs[0].to, 1);
  Recorder all;
  m->Iterate(all, FMaskAll);
  EXPECT_EQ(all.ToNeurons(), (std::vector<int>{0, 0, 1, 1, 1}));
  EXPECT_EQ(m->GetConnectionsNType(), std::string("ToOutputConnections"));
}

TEST(ToOutputConnections, FreezingSelectsByMaskAndReportsUntrainable) {
  auto net = MakeNet({2, 3});
  TToOutputConnections *m = CentresOf(*net);
  m->ResetCentres();
  m->FreezeArc(3, 1);
  EXPECT_EQ(m->GetFlags(3, 1), FMaskExists);
  EXPECT_FALSE(m->IsTrainable(3, 1));
  EXPECT_TRUE(m->IsTrainable(4, 1));
  EXPECT_EQ(m->GetNumWeights(FMaskAll), 4);
  EXPECT_EQ(m->GetNumWeights(FMaskExists), 5);
  Recorder existing;
  m->Iterate(existing, FMaskExists);
  EXPECT_EQ(existing.arcs[3].trainable, 0);

  m->Randomize(0.0, 0.0);
  EXPECT_EQ(m->weights, (std::vector<double>{0.0, 0.0, 0.0, 0.5, 0.0}));
}

TEST(ToOutputConnections, CloneKeepsCentresWithFreshFlags) {
  auto net = MakeNet({3});
  TToOutputConnections *m = CentresOf(*net);
  m->weights = {0.1, 0.3, 0.8};
  m->FreezeArc(1, 0);
  TBasicNetwork copy(*net);
  auto *mc = dynamic_cast<TToOutputConnections *>(copy.priv_conns_index[5][4]);
  ASSERT_NE(mc, nullptr);
  EXPECT_EQ(mc->weights, m->weights);
  EXPECT_EQ(mc->flags, std::vector<unsigned char>(3, FMaskAll));
  EXPECT_EQ(mc->outputLayer, copy.layers[5]);

  vemotest::Recorder2 r2;
  m->Iterate2(r2, &copy, FMaskAll);
  ASSERT_EQ(r2.pairs.size(), 2u);
  EXPECT_EQ(r2.pairs[1].first, &m->weights[2]);
  EXPECT_EQ(r2.pairs[1].second, &mc->weights[2]);
}

} // namespace
