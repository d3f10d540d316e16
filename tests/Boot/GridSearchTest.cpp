// The grid search under cv, called as any front end would call it.

#include "Boot/GridSearch.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace kestrane;

LabelledData TwoClasses() {
  LabelledData data;
  data.featureNames = {"x"};
  data.classColumn = "y";
  for (int r = 0; r < 12; ++r) {
    data.rows.push_back({static_cast<double>(r)});
    data.labels.push_back(r < 6 ? "10" : "9");
  }
  return data;
}

GridRequest Small() {
  GridRequest grid;
  grid.values = {std::vector<double>{2, 3}, {3}, {3}, {4}, {2}, {0.1}, {0.5}, {0}};
  grid.folds = 3;
  return grid;
}

// The listener hears every combination in grid order, summed up as the
// result has it, whatever the order in which the threads finish.
TEST(GridSearchTest, EveryCombinationOnTheSameFoldsAndTheBestPicked) {
  GridRequest grid = Small();
  grid.jobs = 3;
  std::vector<GridPoint> heard;
  std::vector<size_t> order;
  long long started = 0, ended = 0;
  GridListener listener;
  listener.started = [&](long long, long long) { ++started; };
  listener.ended = [&](long long count, long long tasks) {
    EXPECT_EQ(count, ++ended);
    EXPECT_EQ(tasks, 6);
  };
  listener.scored = [&](const GridPoint &point, size_t index) {
    EXPECT_GE(ended, static_cast<long long>(3 * (index + 1))) << "told before its folds ended";
    heard.push_back(point);
    order.push_back(index);
  };
  const GridResult result = GridSearch(TwoClasses(), grid, listener);
  EXPECT_EQ(order, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(started, 6);
  EXPECT_EQ(ended, 6);
  ASSERT_EQ(heard.size(), result.points.size());
  for (size_t c = 0; c < heard.size(); ++c) {
    EXPECT_EQ(heard[c].mean, result.points[c].mean);
    EXPECT_EQ(heard[c].deviation, result.points[c].deviation);
  }
  EXPECT_EQ(result.classes, (std::vector<std::string>{"9", "10"}));
  ASSERT_EQ(result.points.size(), 2u);
  EXPECT_EQ(result.points[0].shape.rules, 2);
  EXPECT_EQ(result.points[1].shape.rules, 3);
  for (const GridPoint &p : result.points) {
    ASSERT_EQ(p.folds.size(), 3u);
    long rows = 0;
    for (const FoldScore &f : p.folds)
      rows += f.rows;
    EXPECT_EQ(rows, 12);
  }
  const GridPoint &best = result.points[result.best];
  for (const GridPoint &p : result.points) {
    EXPECT_TRUE(best.mean > p.mean || (best.mean == p.mean && best.size <= p.size));
  }
}

// A setting that runs away is one result of the search, not its end; only
// when nothing converged is there nothing to pick.
TEST(GridSearchTest, ADivergedCombinationIsMarkedAndCannotWin) {
  GridRequest grid = Small();
  grid.values[kGridRules] = {2};
  grid.values[kGridEpochs] = {300};
  grid.values[kGridMomentum] = {1.5, 0.5};
  const GridResult result = GridSearch(TwoClasses(), grid);
  ASSERT_EQ(result.points.size(), 2u);
  EXPECT_EQ(result.points[0].diverged, 3);
  EXPECT_TRUE(std::isnan(result.points[0].mean));
  EXPECT_EQ(result.points[1].diverged, 0);
  EXPECT_EQ(result.best, 1u);

  grid.values[kGridMomentum] = {1.5};
  EXPECT_THROW(GridSearch(TwoClasses(), grid), TDivergedError);
}

TEST(GridSearchTest, RefusesBeforeTraining) {
  const struct {
    const char *what;
    void (*change)(LabelledData &, GridRequest &);
    const char *message;
  } cases[] = {
      {"one class", [](LabelledData &d, GridRequest &) { d.labels.assign(12, "a"); },
       "only one class (\"a\") in column \"y\""},
      {"more folds than rows", [](LabelledData &, GridRequest &g) { g.folds = 13; },
       "exceeds the 12 rows"},
      {"a rate the trainer reads as 0",
       [](LabelledData &, GridRequest &g) { g.values[kGridLearningRate] = {1e-8}; },
       "reaches the trainer as 0"},
      {"too many trainings",
       [](LabelledData &, GridRequest &g) {
         for (int k = 0; k < kGridBatch; ++k)
           g.values[k].resize(20, g.values[k][0]);
       },
       "more than"},
  };
  for (const auto &c : cases) {
    LabelledData data = TwoClasses();
    GridRequest grid = Small();
    c.change(data, grid);
    try {
      GridSearch(data, grid);
      ADD_FAILURE() << c.what << ": no failure";
    } catch (const TKestraneError &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
}

} // namespace
