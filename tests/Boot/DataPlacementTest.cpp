// Scaling, centres and early stopping that follow the data: what each choice
// must do, and that a fit with them stays reproducible from its seed.

#include "Boot/FitPipeline.h"
#include "DataTools/CsvImport/FeatureScaling.h"
#include "FileHandler/ParseTools.h"
#include "Vemo/TVemo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

std::vector<double> Spread(int n, double from, double to) {
  std::vector<double> v;
  for (int i = 0; i < n; ++i)
    v.push_back(from + (to - from) * i / (n - 1));
  return v;
}

TEST(DataPlacementTest, RobustRangeDropsOnlyFarRows) {
  struct Case {
    const char *what;
    std::vector<double> values;
    double min, maxFrom, maxTo; // the fitted maximum lies in [maxFrom, maxTo]
  };
  std::vector<double> far = Spread(41, 0.0, 4.0);
  far.push_back(400.0);
  std::vector<double> mostlyZero(40, 0.0);
  mostlyZero.push_back(1.0);
  std::vector<double> withMissing = far;
  withMissing.push_back(NAN);
  const Case cases[] = {
      {"an even column keeps its ends", Spread(41, 0.0, 4.0), 0.0, 4.0, 4.0},
      {"one far row is cut off", far, 0.0, 4.0, 10.0},
      {"missing values are passed over", withMissing, 0.0, 4.0, 10.0},
      {"a mostly constant column keeps its ends", mostlyZero, 0.0, 1.0, 1.0},
  };
  for (const Case &c : cases) {
    FeatureRange range{"x", c.values[0], c.values[0]};
    for (double v : c.values) {
      if (!std::isnan(v)) {
        range.min = std::min(range.min, v);
        range.max = std::max(range.max, v);
      }
    }
    FitRobustRange(range, c.values);
    EXPECT_EQ(range.min, c.min) << c.what;
    EXPECT_GE(range.max, c.maxFrom) << c.what;
    EXPECT_LE(range.max, c.maxTo) << c.what;
  }
}

TEST(DataPlacementTest, QuantileCentresFollowTheRows) {
  struct Case {
    const char *what;
    std::vector<double> column;
    std::vector<double> centres;
  };
  const Case cases[] = {
      {"skewed rows pull the middle centre", {0.0, 0.1, 0.1, 0.2, 1.0}, {0.0, 0.1, 1.0}},
      {"a 0/1 input keeps even centres", {0.0, 0.0, 0.0, 1.0, 1.0}, {0.0, 0.5, 1.0}},
      {"even rows give even centres", {0.0, 0.25, 0.5, 0.75, 1.0}, {0.0, 0.5, 1.0}},
  };
  for (const Case &c : cases) {
    std::vector<std::vector<double>> rows;
    for (double v : c.column)
      rows.push_back({v});
    const std::vector<std::vector<double>> centres = QuantileCentres(rows, {3});
    ASSERT_EQ(centres.size(), 1u) << c.what;
    ASSERT_EQ(centres[0].size(), c.centres.size()) << c.what;
    for (size_t k = 0; k < c.centres.size(); ++k)
      EXPECT_NEAR(centres[0][k], c.centres[k], 1e-12) << c.what;
  }
}

struct Sample {
  std::vector<std::vector<double>> rows;
  std::vector<std::string> labels;
};

// Two classes apart on the first feature; the second feature is noise with
// one row far out.
Sample TwoClasses() {
  Sample s;
  for (int i = 0; i < 60; ++i) {
    const int k = i % 2;
    s.rows.push_back({k * 2.0 + (i % 7) * 0.2, (i * 5) % 13 * 1.0});
    s.labels.push_back(k ? "b" : "a");
  }
  s.rows[3][1] = 1e6;
  return s;
}

Model FitWith(const TrainSettings &settings, ValidationScores *scores = nullptr) {
  const Sample s = TwoClasses();
  NetworkShape shape;
  shape.rules = 4;
  return Fit(s.rows, s.labels, {"x", "noise"}, shape, settings, nullptr, "class", {}, scores);
}

std::string Text(Model &model) {
  std::ostringstream text;
  FileTools().WriteNetwork(text, model.Fuzzy());
  return text.str();
}

TEST(DataPlacementTest, FitPlacesScalesAndStopsReproducibly) {
  TrainSettings settings;
  settings.epochs = 400;
  settings.scaling = RangeFit::kRobust;
  settings.centres = CentrePlacement::kQuantile;
  settings.validationFraction = 0.2;
  settings.roundsNoChange = 2;
  ValidationScores first, second;
  Model a = FitWith(settings, &first);
  Model b = FitWith(settings, &second);
  EXPECT_EQ(Text(a), Text(b));
  EXPECT_EQ(first.scores, second.scores);
  // Stopped well before the 40 rounds the budget allows, on the best score.
  ASSERT_FALSE(first.scores.empty());
  EXPECT_LT(first.scores.size(), 40u);
  EXPECT_EQ(first.best, *std::max_element(first.scores.begin(), first.scores.end()));
  // The far row no longer stretches the noise feature's range.
  EXPECT_LT(a.Ranges().features[1].max, 100.0);
  // The centres of the noise feature moved off the even places.
  const std::vector<double> centres = a.WeightLayer(TVemo::kConditionCentres);
  EXPECT_NE(centres[4], 0.5);
}

} // namespace
