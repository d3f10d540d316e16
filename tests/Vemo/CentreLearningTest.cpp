#include "Vemo/CentreLearning.h"

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "Vemo/TConditionLayer.h"
#include "Vemo/TVemo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

std::unique_ptr<TVemo> MakeNet(std::vector<int> in, int rules, std::vector<int> out) {
  auto net = std::make_unique<TVemo>(static_cast<int>(in.size()), in.data(), rules, out.data(),
                                     static_cast<int>(out.size()));
  srand(5);
  net->InitWeights(-2, 2);
  return net;
}

// What the backward pass minimises: half the squared gap between the action
// degrees and the target fuzzified by the output terms.
double Loss(TVemo &net, const double *input, const double *target) {
  std::vector<double> out(static_cast<size_t>(net.GetNumOutputs()));
  net.Recall(input, out.data());
  const std::vector<double> centres = net.GetWeightLayer(4);
  const std::vector<double> &y = net.layers[TVemo::kActionLayer]->activations;
  std::vector<double> mu(centres.size());
  TVemoBP::DesiredDegrees(target[0], centres.data(), static_cast<int>(centres.size()), mu.data());
  double e = 0;
  for (size_t k = 0; k < y.size(); ++k)
    e += 0.5 * (y[k] - mu[k]) * (y[k] - mu[k]);
  return e;
}

// Inputs on every kind of stretch: a rising and a falling side, between
// moved centres, and beyond the ends on the shoulders (no slope there). The
// inner centres get their slope, scaled by their share of the rate; the ends
// none.
TEST(CentreLearning, GradientMatchesFiniteDifference) {
  auto net = MakeNet({4, 3}, 3, {3});
  net->SetWeightValue(1, 0, 1, 0.2);
  net->SetWeightValue(1, 0, 2, 0.7);
  net->SetWeightValue(1, 1, 5, 0.4);
  for (const std::vector<double> &input :
       std::vector<std::vector<double>>{{0.1, 0.3}, {0.55, 0.8}, {0.9, 0.45}, {-0.1, 1.2}}) {
    SCOPED_TRACE(input[0]);
    const double target[] = {0.8};
    TVemoBPCentres bp(net.get());
    bp.ComputeGradient(input.data(), target, false, nullptr);
    const auto &store =
        *static_cast<TConditionLayer *>(bp.gradients->layers[TVemo::kConditionLayer]);
    for (int j = 0; j < 7; ++j) {
      const int from = j < 4 ? 0 : 1;
      double c;
      net->GetWeightValue(1, from, j, c);
      const double h = 1e-6;
      net->SetWeightValue(1, from, j, c + h);
      const double up = Loss(*net, input.data(), target);
      net->SetWeightValue(1, from, j, c - h);
      const double down = Loss(*net, input.data(), target);
      net->SetWeightValue(1, from, j, c);
      const double got = store.nodes[static_cast<size_t>(j)].centre;
      if (j == 1 || j == 2 || j == 5)
        EXPECT_NEAR(got / kCentreRateShare, (up - down) / (2 * h), 1e-6) << "centre " << j;
      else
        EXPECT_EQ(got, 0.0) << "end centre " << j;
    }
  }
}

TEST(CentreLearning, BoundsKeepEndsOrderAndGap) {
  struct Case {
    std::vector<double> start, moved, kept;
  };
  const Case cases[] = {
      // From even centres 0, 0.5, 1: the gap is 0.05.
      {{0, 0.5, 1}, {0.1, 0.4, 0.9}, {0, 0.4, 1}}, // the ends go back, the inner stays
      {{0, 0.5, 1}, {0, 0.99, 1}, {0, 0.95, 1}},   // a gap below the last
      {{0, 0.5, 1}, {0, -0.2, 1}, {0, 0.05, 1}},   // a gap above the first
      {{0, 1 / 3.0, 2 / 3.0, 1}, {0, 0.6, 0.5, 1}, {0, 0.6, 0.6 + 0.1 / 3, 1}}, // order restored
      {{-0.5, 0.5, 2}, {-0.5, 2.5, 2}, {-0.5, 1.875, 2}},         // the ends a file gives
      {{0, 0.01, 0.5, 1}, {0, 0.3, 0.305, 1}, {0, 0.3, 0.31, 1}}, // a closer start lowers the gap
  };
  for (const Case &c : cases) {
    const int mf = static_cast<int>(c.start.size());
    auto net = MakeNet({mf}, 2, {2});
    net->SetWeightLayer(1, c.start.data());
    auto &layer = *static_cast<TConditionLayer *>(net->layers[TVemo::kConditionLayer]);
    const std::vector<CentreBounds> bounds = CentreBoundsOf(layer);
    net->SetWeightLayer(1, c.moved.data());
    KeepCentresInBounds(layer, bounds);
    const std::vector<double> got = net->GetWeightLayer(1);
    for (int l = 0; l < mf; ++l)
      EXPECT_NEAR(got[static_cast<size_t>(l)], c.kept[static_cast<size_t>(l)], 1e-12)
          << "moved to " << c.moved[1] << ", centre " << l;
  }
}

// Declares no step of its own, so the fast epoch leaves it the general path.
class GeneralPathCentres : public TVemoBPCentres {
public:
  using TVemoBPCentres::TVemoBPCentres;
};

// A steep rate drives the centres hard; the inner ones learn in both modes
// and stay in order, a gap apart; the ends and the output centres never
// move, and the fast epoch gives the general path's bits.
TEST(CentreLearning, TrainingMovesCentresWithinBounds) {
  for (bool batch : {false, true}) {
    SCOPED_TRACE(batch ? "batch" : "on-line");
    auto net = MakeNet({4, 3}, 4, {3});
    auto twin = MakeNet({4, 3}, 4, {3});
    const std::vector<double> before = net->GetWeightLayer(1), outputs = net->GetWeightLayer(4);
    auto table = std::make_unique<Data>(40, 2, 1, false);
    for (int r = 0; r < 40; ++r) {
      const double row[] = {std::fmod(r * 0.37, 1.0), std::fmod(r * 0.61, 1.0)};
      const double target = row[0] * row[0] > 0.3 ? 0.9 : 0.1;
      table->AppendRow(row, &target);
    }
    TKQstructure record("Params");
    record.SetNumber("LearningRate", batch ? 5.0 : 20.0);
    record.SetNumber("Momentum", 0.9);
    record.SetBoolean("Batch", batch);
    TVemoBPCentres bp(net.get());
    GeneralPathCentres general(twin.get());
    ASSERT_TRUE(bp.TakesFastPath());
    ASSERT_FALSE(general.TakesFastPath());
    int epochs = 60;
    bp.Train(table.get(), &record, epochs);
    general.Train(table.get(), &record, epochs);
    for (int layer = 1; layer <= 4; ++layer)
      EXPECT_EQ(net->GetWeightLayer(layer), twin->GetWeightLayer(layer)) << layer;
    const std::vector<double> after = net->GetWeightLayer(1);
    EXPECT_NE(after, before);
    EXPECT_EQ(net->GetWeightLayer(4), outputs);
    for (size_t first : {size_t{0}, size_t{4}}) {
      const size_t m = first == 0 ? 4 : 3;
      EXPECT_EQ(after[first], 0.0);
      EXPECT_EQ(after[first + m - 1], 1.0);
      for (size_t l = 1; l < m; ++l)
        EXPECT_GE(after[first + l] - after[first + l - 1], 0.1 / (m - 1) - 1e-12) << first + l;
    }
  }
}

} // namespace
