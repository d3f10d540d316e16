#include "Boot/ParameterFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kestrane::LoadParameters;
using kestrane::RunSettings;

// A file that passes every check; cases add to it or replace it.
const std::string kValid = "WeightFile = initial.wgt\n"
                           "DestinationFile = result.wgt\n"
                           "#DataClasses = 2\n"
                           "DataFile = class0.dat\n"
                           "DataFile = class1.dat\n"
                           "Examples = 50\n"
                           "Examples = 40\n"
                           "Epochs = 1000\n"
                           "ChangeAfter = 10\n"
                           "LearningRate = 0.1\n"
                           "Momentum = 0.9\n"
                           "Batch = false\n"
                           "#Features = 3\n"
                           "Features = 0 2 5\n";

std::string Load(const std::string &text, RunSettings &settings) {
  std::istringstream in(text);
  return LoadParameters(in, settings);
}

std::string Message(const std::string &text) {
  RunSettings settings;
  return Load(text, settings);
}

TEST(ParameterFileTest, ReadsEveryKey) {
  RunSettings s;
  ASSERT_EQ(Load(kValid, s), "");
  EXPECT_EQ(s.weightFile, "initial.wgt");
  EXPECT_EQ(s.destinationFile, "result.wgt");
  EXPECT_EQ(s.dataClasses, 2);
  EXPECT_EQ(s.dataFiles, (std::vector<std::string>{"class0.dat", "class1.dat"}));
  EXPECT_EQ(s.examples, (std::vector<int32_t>{50, 40}));
  EXPECT_EQ(s.epochs, 1000);
  EXPECT_EQ(s.changeAfter, 10);
  EXPECT_EQ(s.learningRate, 0.1f);
  EXPECT_EQ(s.momentum, 0.9f);
  EXPECT_FALSE(s.batch);
  EXPECT_EQ(s.featureCount, 3);
  EXPECT_EQ(s.features, (std::vector<int32_t>{0, 2, 5}));
  EXPECT_FALSE(s.hasSeed);
}

TEST(ParameterFileTest, Defaults) {
  RunSettings s;
  ASSERT_EQ(Load("WeightFile = w #DataClasses = 1 DataFile = d Examples = 1 "
                 "Epochs = 1 ChangeAfter = 1",
                 s),
            "");
  EXPECT_EQ(s.destinationFile, "trained.wgt");
  EXPECT_EQ(s.learningRate, 0.5f);
  EXPECT_EQ(s.momentum, 0.5f);
  EXPECT_FALSE(s.batch);
  EXPECT_FALSE(s.withReplacement);
  EXPECT_FALSE(s.learnCentres);
  EXPECT_EQ(s.featureCount, 0);
  EXPECT_TRUE(s.features.empty());
  ASSERT_EQ(Load("WeightFile = w #DataClasses = 1 DataFile = d Examples = 1 "
                 "Epochs = 1 ChangeAfter = 1 withreplacement = TRUE learncentres = True",
                 s),
            "");
  EXPECT_TRUE(s.withReplacement);
  EXPECT_TRUE(s.learnCentres);
}

TEST(ParameterFileTest, Grammar) {
  struct Case {
    const char *name;
    std::string text;
    bool (*check)(const RunSettings &);
  };
  const std::vector<Case> cases = {
      {"keys in any case", kValid + "weightfile = a.wgt EPOCHS = 7 bAtCh = x",
       [](const RunSettings &s) { return s.weightFile == "a.wgt" && s.epochs == 7; }},
      {"any separator character", kValid + "Epochs : 5 Momentum x0.25 WeightFile ~w.wgt",
       [](const RunSettings &s) {
         return s.epochs == 5 && s.momentum == 0.25f && s.weightFile == "w.wgt";
       }},
      {"without a separator the value loses its first character", kValid + "WeightFile xy.wgt",
       [](const RunSettings &s) { return s.weightFile == "y.wgt"; }},
      {"free words are skipped one at a time", kValid + "note: WeightFile = n.wgt trailing words",
       [](const RunSettings &s) { return s.weightFile == "n.wgt"; }},
      {"a key glued to its value is a free word", kValid + "Epochs=5",
       [](const RunSettings &s) { return s.epochs == 1000; }},
      {"lines mean nothing", kValid + "Epochs\n=\n\t12",
       [](const RunSettings &s) { return s.epochs == 12; }},
      {"batch true in any case", kValid + "Batch = TRUE",
       [](const RunSettings &s) { return s.batch; }},
      {"batch other word", kValid + "Batch = yes", [](const RunSettings &s) { return !s.batch; }},
      {"last occurrence wins", kValid + "ChangeAfter = 3 ChangeAfter = 4",
       [](const RunSettings &s) { return s.changeAfter == 4; }},
      {"#Features 0 keeps all columns", kValid + "#Features = 0",
       [](const RunSettings &s) { return s.featureCount == 0 && s.features.empty(); }},
      {"seed", kValid + "seed = -12",
       [](const RunSettings &s) { return s.hasSeed && s.seed == -12; }},
      {"integer prefix; the rest is a free word", kValid + "Epochs = 30abc",
       [](const RunSettings &s) { return s.epochs == 30; }},
  };
  for (const Case &c : cases) {
    RunSettings s;
    EXPECT_EQ(Load(c.text, s), "") << c.name;
    EXPECT_TRUE(c.check(s)) << c.name;
  }
}

// "seed" is the Seed key only where an integer follows its separator;
// elsewhere it stays the free word of older files, with a warning, and the
// words read ahead count as usual.
TEST(ParameterFileTest, SeedIsAKeyOnlyBeforeAnInteger) {
  struct Case {
    std::string text;
    bool hasSeed;
    int seed;
    bool warns;
    std::function<bool(const RunSettings &)> check;
  };
  const auto any = [](const RunSettings &) { return true; };
  const std::vector<Case> cases = {
      {kValid + "Seed = 7", true, 7, false, any},
      {kValid + "Seed =-7", true, -7, false, any},
      {kValid + "Seed = 12abc Epochs = 3", true, 12, false,
       [](const RunSettings &s) { return s.epochs == 3; }},
      {"// fixed seed for tests\n" + kValid, false, 0, true, any},
      {kValid + "seed WeightFile = other.wgt", false, 0, true,
       [](const RunSettings &s) { return s.weightFile == "other.wgt"; }},
      {kValid + "seed = Epochs = 12", false, 0, true,
       [](const RunSettings &s) { return s.epochs == 12; }},
      {kValid + "the seed", false, 0, true, any},
  };
  for (const Case &c : cases) {
    RunSettings s;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Load(c.text, s), "") << c.text;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.hasSeed, c.hasSeed) << c.text;
    if (c.hasSeed) {
      EXPECT_EQ(s.seed, c.seed) << c.text;
    }
    EXPECT_EQ(err.rfind("!Warning: ", 0) == 0, c.warns) << c.text << ": " << err;
    EXPECT_TRUE(c.check(s)) << c.text;
  }
}

TEST(ParameterFileTest, WordLimits) {
  const std::string name255(255, 'w');
  const std::string name254(254, 'd');
  RunSettings s;
  ASSERT_EQ(Load(kValid + "WeightFile = " + name255 + " DestinationFile = " + name255 +
                     " Batch = " + std::string(11, 'x') + "TRUE" + " " + std::string(255, 'f'),
                 s),
            "");
  EXPECT_EQ(s.weightFile, name255);
  EXPECT_EQ(s.destinationFile, name255);
  EXPECT_FALSE(s.batch);
  ASSERT_EQ(Load("#DataClasses = 1 DataFile = " + name254 +
                     " WeightFile = w Epochs = 1 "
                     "ChangeAfter = 1 Examples = 1",
                 s),
            "");
  EXPECT_EQ(s.dataFiles.at(0), name254);
}

TEST(ParameterFileTest, ValidationMessagesInOrder) {
  struct Case {
    const char *text;
    const char *message;
  };
  const std::vector<Case> cases = {
      {"", "No weight file specified"},
      {"#DataClasses = 2 Epochs = 1 ChangeAfter = 1", "No weight file specified"},
      {"WeightFile = NoNameSpecified.WGT #DataClasses = 1", "No weight file specified"},
      {"WeightFile = w", "Number of classes not specified or invalid"},
      {"WeightFile = w #DataClasses = 0 Epochs = 1 ChangeAfter = 1",
       "Number of classes not specified or invalid"},
      {"WeightFile = w #DataClasses = -3 DataFile = a",
       "Number of classes not specified or invalid"},
      {"WeightFile = w #DataClasses = 2", "Number of epochs not specified or invalid"},
      {"WeightFile = w #DataClasses = 2 Epochs = 0", "Number of epochs not specified or invalid"},
      {"WeightFile = w #DataClasses = 2 Epochs = 5", "Change After not specified or invalid"},
      {"WeightFile = w #DataClasses = 2 Epochs = 5 ChangeAfter = -1",
       "Change After not specified or invalid"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Message(c.text), c.message) << c.text;
}

TEST(ParameterFileTest, RejectedFiles) {
  const std::string head = "WeightFile = w Epochs = 5 ChangeAfter = 1 ";
  const std::string two =
      head + "#DataClasses = 2 DataFile = a DataFile = b Examples = 1 Examples = 2 ";
  struct Case {
    std::string text;
    const char *message;
  };
  const std::vector<Case> cases = {
      // values that cannot be read as their type
      {kValid + "Epochs = many", "Value of Epochs is not an integer"},
      {kValid + "#DataClasses = x", "Value of #DataClasses is not an integer"},
      {kValid + "Examples = -", "Value of Examples is not an integer"},
      {kValid + "ChangeAfter = 99999999999", "Value of ChangeAfter is not an integer"},
      {kValid + "LearningRate = fast", "Value of LearningRate is not a number"},
      {kValid + "Momentum = .", "Value of Momentum is not a number"},
      {kValid + "Seed = 4294967296", "Value of Seed is not an integer"},
      {"Epochs = x", "Value of Epochs is not an integer"},
      {kValid + "#Features = 2 Features = 1 Epochs = 3", "Value of Features is not an integer"},
      // values missing at the end of the file
      {kValid + "Epochs", "No value for Epochs"},
      {kValid + "Epochs =", "No value for Epochs"},
      {kValid + "WeightFile = ", "No value for WeightFile"},
      {kValid + "#Features = 4 Features = 1 2", "No value for Features"},
      // words beyond their limits
      {kValid + std::string(256, 'k'), "Word longer than 255 characters in the parameter file"},
      {kValid + "WeightFile = " + std::string(256, 'w'),
       "WeightFile name longer than 255 characters"},
      {kValid + "DestinationFile = " + std::string(256, 'w'),
       "DestinationFile name longer than 255 characters"},
      {"#DataClasses = 1 DataFile = " + std::string(255, 'd'),
       "DataFile name longer than 254 characters"},
      {kValid + "Batch = " + std::string(16, 't'), "Batch value longer than 15 characters"},
      // structure: only after the four checks pass
      {two + "DataFile = c", "More DataFile entries than #DataClasses"},
      {two + "Examples = 3", "More Examples entries than #DataClasses"},
      {head + "#DataClasses = 2 DataFile = a Examples = 1 Examples = 2",
       "Fewer DataFile entries than #DataClasses"},
      {head + "#DataClasses = 2 DataFile = a DataFile = b Examples = 1",
       "Fewer Examples entries than #DataClasses"},
      {head + "#DataClasses = 2", "Fewer DataFile entries than #DataClasses"},
      {head + "DataFile = a #DataClasses = 1 DataFile = b Examples = 1",
       "DataFile given before #DataClasses"},
      {head + "Examples = 1 #DataClasses = 1 DataFile = b Examples = 1",
       "Examples given before #DataClasses"},
      {two + "#DataClasses = 3", "#DataClasses given more than once"},
      {two + "#Features = -2", "#Features is negative"},
      {two + "Features = 1 2 #Features = 2 Features = 1 2", "Features given before #Features"},
      {two + "#Features = 2", "#Features given without a Features line"},
      {two + "#Features = 2 Features = 1 2 #Features = 3",
       "#Features given without a Features line"},
      {two + "#Features = 3 Features = 1 -2 0", "Features holds a negative column"},
      {head + "#DataClasses = 2 DataFile = a DataFile = b Examples = 1 Examples = -2",
       "Examples value is negative"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Message(c.text), c.message) << c.text.substr(0, 120);
}

TEST(ParameterFileTest, HugeCountsAllocateNothingUpFront) {
  // Counts only bound what the file may hold; nothing is reserved for them.
  EXPECT_EQ(Message("WeightFile = w Epochs = 1 ChangeAfter = 1 #DataClasses = 2000000000"),
            "Fewer DataFile entries than #DataClasses");
  EXPECT_EQ(Message(kValid + "#Features = 2000000000 Features = 1"), "No value for Features");
}

} // namespace
