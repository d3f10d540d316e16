// The in-memory pipeline against the programs it stands for: the same seed
// must give the same trained network, bit for bit, and the same answers.

#include "Boot/FitPipeline.h"
#include "Boot/Settings.h"

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KestraneError.h"
#include "NeuralNets/TBasicNetwork.h"
#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrane;

struct Sample {
  std::vector<std::vector<double>> rows;
  std::vector<std::string> labels;
};

// Three classes along the first feature, the second is noise; labels out of order.
Sample ThreeBlobs() {
  Sample s;
  const char *names[] = {"mid", "low", "high"};
  const double centre[] = {0.5, 0.0, 1.0};
  for (int i = 0; i < 36; ++i) {
    const int k = i % 3;
    s.rows.push_back({centre[k] * 7.0 + 0.37 * (i % 5), 3.0 + (i * 7) % 11 / 3.0});
    s.labels.push_back(names[k]);
  }
  return s;
}

std::string Csv(const Sample &s) {
  std::string text = "a,b,kind\n";
  char cell[64];
  for (size_t r = 0; r < s.rows.size(); ++r) {
    for (double v : s.rows[r]) {
      std::snprintf(cell, sizeof cell, "%.17g,", v);
      text += cell;
    }
    text += s.labels[r] + "\n";
  }
  return text;
}

std::string NetworkText(TBasicNetwork &network) {
  std::ostringstream text;
  FileTools().WriteNetwork(text, network);
  return text.str();
}

TEST(FitPipelineTest, FitEqualsImportCreateAndDriverRun) {
  const Sample s = ThreeBlobs();
  const std::string dir = programtest::TempPath("fit");
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  std::ofstream(dir + "/blobs.csv") << Csv(s);
  const std::string tool = std::string("'") + KESTRANE_TOOL_BINARY + "'";
  const std::string go = "cd '" + dir + "' && ";
  ASSERT_EQ(std::system((go + tool +
                         " import blobs.csv --seed 5 --epochs 60 --change-after 6"
                         " --learning-rate 0.2 --momentum 0.4 -o blobs >/dev/null")
                            .c_str()),
            0);
  ASSERT_EQ(std::system((go + tool +
                         " create --inputs 2 --input-mfs 4,3 --rules 5 --outputs 3"
                         " --seed 9 -o blobs-initial.wgt >/dev/null")
                            .c_str()),
            0);
  ASSERT_EQ(std::system((go + "'" + KESTRANE_BINARY + "' blobs.param >/dev/null").c_str()), 0);

  NetworkShape shape;
  shape.inputMFs = {4, 3};
  shape.rules = 5;
  shape.seed = 9;
  TrainSettings settings;
  settings.epochs = 60;
  settings.changeAfter = 6;
  settings.learningRate = 0.2f;
  settings.momentum = 0.4f;
  settings.seed = 5;
  Model model = Fit(s.rows, s.labels, {"a", "b"}, shape, settings);
  EXPECT_EQ(model.Classes(), (std::vector<std::string>{"high", "low", "mid"}));
  EXPECT_EQ(NetworkText(model.Network()), programtest::Slurp(dir + "/blobs-trained.wgt"));

  // Predict answers what eval counts: the class of the largest output.
  const Prediction p = model.Predict(s.rows);
  ASSERT_EQ(p.outputs.size(), s.rows.size() * 3);
  EXPECT_EQ(p.clipped, 0);
  int correct = 0;
  for (size_t r = 0; r < s.rows.size(); ++r) {
    EXPECT_EQ(p.predicted[r], PredictedClass(&p.outputs[r * 3], 3));
    if (model.Classes()[p.predicted[r]] == s.labels[r])
      ++correct;
  }
  EXPECT_GT(correct, 24); // chance is 12
}

// The rows each class gives per round, from the sampling and the count per round.
TEST(FitPipelineTest, ClassExamplesFollowTheSampling) {
  struct Case {
    const char *name;
    ClassSampling sampling;
    int64_t perRound;
    std::vector<int32_t> examples, expected;
  };
  const std::vector<int32_t> rows = {10, 30, 2};
  const Case cases[] = {
      {"balanced: the smallest class", ClassSampling::kBalanced, 0, {}, {2, 2, 2}},
      {"balanced, 30 a round", ClassSampling::kBalanced, 30, {}, {10, 10, 10}},
      {"proportional: at most three balanced rounds",
       ClassSampling::kProportional,
       0,
       {},
       {4, 13, 1}},
      {"proportional, 20 a round, one at least", ClassSampling::kProportional, 20, {}, {5, 14, 1}},
      {"proportional, 84 a round", ClassSampling::kProportional, 84, {}, {20, 60, 4}},
      {"counts given", ClassSampling::kProportional, 50, {1, 2, 3}, {1, 2, 3}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TrainSettings settings;
    settings.sampling = c.sampling;
    settings.examplesPerRound = c.perRound;
    settings.examples = c.examples;
    EXPECT_EQ(ClassExamples(settings, rows), c.expected);
    EXPECT_EQ(DrawsWithReplacement(settings),
              c.sampling == ClassSampling::kProportional || c.perRound > 0);
  }
}

// Each fit draws from its own generator and shares no state with the other:
// side by side, each gives the network it gives alone (on-line and batch).
TEST(FitPipelineTest, FitsInTwoThreadsGiveWhatEachGivesAlone) {
  const Sample s = ThreeBlobs();
  NetworkShape shape;
  shape.rules = 6;
  TrainSettings settings[2];
  for (int k = 0; k < 2; ++k) {
    settings[k].epochs = 80;
    settings[k].changeAfter = 8;
    settings[k].batch = k == 1;
    settings[k].seed = 3 + k;
  }
  const auto fit = [&](int k) {
    NetworkShape own = shape;
    own.seed = 11 + k;
    return Fit(s.rows, s.labels, {"a", "b"}, own, settings[k]).NetworkText();
  };
  const std::string alone[2] = {fit(0), fit(1)};
  std::string together[2];
  std::thread first([&] { together[0] = fit(0); });
  std::thread second([&] { together[1] = fit(1); });
  first.join();
  second.join();
  EXPECT_NE(alone[0], alone[1]);
  EXPECT_EQ(together[0], alone[0]);
  EXPECT_EQ(together[1], alone[1]);
}

// A large table is recalled in two halves on two threads: every output must
// be the one a single network gives row after row, missing values included.
TEST(FitPipelineTest, LargeRecallsGiveTheRowByRowOutputs) {
  const Sample s = ThreeBlobs();
  NetworkShape shape;
  shape.rules = 6;
  TrainSettings settings;
  settings.epochs = 40;
  Model model = Fit(s.rows, s.labels, {"a", "b"}, shape, settings);
  std::vector<std::vector<double>> rows;
  for (int r = 0; r < 9001; ++r) {
    const double a = (r * 37 % 1000) / 999.0;
    rows.push_back({r % 97 == 0 ? std::nan("") : a, (r * 53 % 1000) / 999.0});
  }
  const std::vector<double> outputs = RecallRows(model.Network(), rows);
  const int O = model.Outputs();
  std::vector<double> one(static_cast<size_t>(O));
  for (size_t r = 0; r < rows.size(); ++r) {
    model.Network().Recall(rows[r].data(), one.data());
    for (int o = 0; o < O; ++o)
      ASSERT_EQ(std::memcmp(&outputs[r * O + o], &one[o], sizeof(double)), 0) << "row " << r;
  }
}

TEST(FitPipelineTest, PieceByPieceRules) {
  const EncodedClasses e = EncodeClasses({"b", "a", "b", "c"});
  EXPECT_EQ(e.names, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(e.classOf, (std::vector<int>{1, 0, 1, 2}));

  std::vector<std::vector<double>> rows = {{-1.0, 5.0}, {3.0, 5.0}, {1.0, 5.0}};
  const std::vector<FeatureRange> ranges = ComputeRanges({"x", "c"}, rows);
  EXPECT_EQ(ScaleRows(ranges, rows), 0);
  EXPECT_EQ(rows, (std::vector<std::vector<double>>{{0.0, 0.5}, {1.0, 0.5}, {0.5, 0.5}}));
  std::vector<std::vector<double>> outside = {{7.0, 4.0}};
  EXPECT_EQ(ScaleRows(ranges, outside), 2);
  EXPECT_EQ(outside[0], (std::vector<double>{1.0, 0.0}));

  const auto tables = BuildClassTables(rows, {1, 0, 1}, 2);
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0]->MbrNdxDataRows, 1);
  EXPECT_EQ(tables[1]->MbrNdxDataRows, 2);
  EXPECT_EQ(tables[1]->OutputSlot(1)[1], 1.0);

  const double two[] = {0.3, 0.3};
  const double one[] = {0.5};
  EXPECT_EQ(PredictedClass(two, 2), 0); // ties go to the first
  EXPECT_EQ(PredictedClass(one, 1), 1);

  NetworkShape shape;
  shape.inputs = 2;
  shape.inputMFs = {3, 3, 3};
  shape.rules = 2;
  shape.outputs = 1;
  EXPECT_THROW(BuildNetwork(shape), TSettingError);
  EXPECT_THROW(Fit({{1.0}, {2.0}}, {"a", "a"}, {"x"}, NetworkShape{}, TrainSettings{}), TRunError);
}

// One order of classes for every front end: numbers by value, else text.
TEST(FitPipelineTest, ClassesOrderByValueWhenEveryLabelIsANumber) {
  const struct {
    std::vector<std::string> labels;
    std::vector<std::string> order;
  } cases[] = {
      {{"10", "2", "11", "2"}, {"2", "10", "11"}},
      {{"1.5", "-2", "1", "1.0"}, {"-2", "1", "1.0", "1.5"}}, // equal values stay two classes
      {{"10", "2", "b"}, {"10", "2", "b"}},                   // one word: all by text
      {{"b", "a", " 3"}, {" 3", "a", "b"}},
  };
  for (const auto &c : cases) {
    const EncodedClasses e = EncodeClasses(c.labels);
    EXPECT_EQ(e.names, c.order);
    for (size_t r = 0; r < c.labels.size(); ++r)
      EXPECT_EQ(e.names[e.classOf[r]], c.labels[r]);
  }
}

// The trainer reads rates with six decimals: what it would read otherwise is
// refused by the pipeline's front ends instead of training something else.
TEST(FitPipelineTest, SettingsTheTrainerWouldReadOtherwiseAreRefused) {
  const struct {
    double value;
    bool refused;
  } cases[] = {{0.1, false}, {0.5f, false}, {0.000001, false}, {0.123456789, false},
               {0.0, false}, {1e-7, true},  {0.0000015, true}, {1e300, false}};
  for (const auto &c : cases) {
    EXPECT_EQ(!TrainerReadsOtherwise(c.value).empty(), c.refused) << c.value;
  }
  TrainSettings settings;
  settings.learningRate = 1e-7f;
  try {
    Fit({{1.0}, {2.0}}, {"a", "b"}, {"x"}, NetworkShape{}, settings);
    ADD_FAILURE() << "a rate of 1e-7 trained";
  } catch (const TSettingError &e) {
    EXPECT_EQ(e.GetSetting(), Setting::kLearningRate);
    EXPECT_NE(std::string(e.what()).find("reaches the trainer as 0"), std::string::npos)
        << e.what();
  }
}

} // namespace
