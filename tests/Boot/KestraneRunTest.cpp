// The whole program run: training, its output, and the inputs it refuses.

#include "FileHandler/ParseTools.h"
#include "NeuralNets/TMLPNetwork.h"
#include "Vemo/TVemo.h"

#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace programtest;
using namespace kestrane;

const std::string kFixtures = std::string(KESTRANE_SOURCE_DIR) + "/tests/Boot/fixtures/";

// A data-set file with the given rows of `inputs` inputs and the rest targets.
std::string DataFile(const std::vector<std::vector<double>> &rows, int inputs) {
  const int outputs = static_cast<int>(rows[0].size()) - inputs;
  std::string text = "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = " + std::to_string(rows.size()) +
                     "]\n[Inputs = " + std::to_string(inputs) +
                     "]\n[ExpectedOutputs = " + std::to_string(outputs) +
                     "]\n[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n";
  for (const auto &row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      char value[32];
      std::snprintf(value, sizeof value, "%.17g", row[i]);
      text += value;
      text += static_cast<int>(i) == inputs - 1 ? "   " : " ";
    }
    text += "\n";
  }
  return WriteFile("class.dat", text + "[~Data]\n\n[~DataSet]\n");
}

// Class c of a problem decided by input 0: low for class 0, high for class 1.
std::string ClassFile(int c, int inputs = 2, int outputs = 1) {
  std::vector<std::vector<double>> rows;
  for (int r = 0; r < 8; ++r) {
    std::vector<double> row;
    row.push_back(c == 0 ? 0.04 * r : 0.7 + 0.04 * r);
    for (int i = 1; i < inputs; ++i)
      row.push_back(0.1 * ((r * 3 + i) % 10));
    for (int o = 0; o < outputs; ++o)
      row.push_back(c);
    rows.push_back(row);
  }
  return DataFile(rows, inputs);
}

std::string NetworkFile(TBasicNetwork &net) {
  const std::string path = TempPath("net.wgt");
  FileTools().SaveNetwork(path.c_str(), net);
  return path;
}

// 2 inputs x 3 functions, 4 rules, `outputs` outputs x 3 functions.
std::string VemoFile(int outputs = 1) {
  const int in[] = {3, 3};
  const int out[] = {3, 3};
  TVemo net(2, in, 4, out, outputs);
  srand(5);
  net.InitWeights(-1, 1);
  return NetworkFile(net);
}

struct Params {
  std::string weights;
  std::vector<std::string> classes;
  std::string examples = "Examples = 4 Examples = 4";
  std::string rest = "Epochs = 6 ChangeAfter = 3 LearningRate = 0.5 Momentum = 0.5 Seed = 7";
  std::string destination = TempPath("trained.wgt");

  std::string Write() const {
    std::string text = "WeightFile = " + weights + "\nDestinationFile = " + destination +
                       "\n#DataClasses = " + std::to_string(classes.size()) + "\n";
    for (const std::string &c : classes)
      text += "DataFile = " + c + "\n";
    return WriteFile("params.txt", text + examples + "\n" + rest + "\n");
  }
  RunResult Run() const { return RunProgram("'" + Write() + "'"); }
};

Params Standard() {
  Params p;
  p.weights = VemoFile();
  p.classes = {ClassFile(0), ClassFile(1)};
  return p;
}

double ErrorOf(const RunResult &r) {
  EXPECT_EQ(r.out.rfind("Error = ", 0), 0u) << r.out << r.err;
  return r.out.size() > 8 ? std::atof(r.out.c_str() + 8) : -1;
}

TEST(KestraneRun, SeededRunsAreIdenticalAndTrainingLowersTheError) {
  Params p = Standard();
  const RunResult first = p.Run();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, "");
  const std::string written = Slurp(p.destination);
  ASSERT_FALSE(written.empty());
  const RunResult second = p.Run();
  EXPECT_EQ(second.out, first.out);
  EXPECT_EQ(Slurp(p.destination), written);

  p.rest = "Epochs = 1 ChangeAfter = 1 LearningRate = 0.5 Momentum = 0.5 Seed = 7";
  const double untrained = ErrorOf(p.Run());
  p.rest = "Epochs = 150 ChangeAfter = 10 LearningRate = 0.5 Momentum = 0.5 Seed = 7";
  const double trained = ErrorOf(p.Run());
  EXPECT_LT(trained, 0.5 * untrained) << untrained;
}

// The exact file a seeded run writes (glibc's rand); a faster implementation
// must match it. The fixture network has a frozen arc (2->3, 0 to 1) and a
// pruned one (3->4, 2 to 0).
TEST(KestraneRun, PinnedResultOfASeededRun) {
  for (const char *mode : {"online", "batch"}) {
    Params p;
    p.weights = kFixtures + "initial.wgt";
    p.classes = {kFixtures + "class0.dat", kFixtures + "class1.dat"};
    p.examples = "Examples = 5 Examples = 5";
    p.rest = std::string("Epochs = 12 ChangeAfter = 4 LearningRate = 0.4 Momentum = 0.7 Seed = "
                         "12345 Batch = ") +
             (std::string(mode) == "batch" ? "true" : "false");
    const RunResult r = p.Run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Slurp(kFixtures + "expected_" + mode + ".txt")) << mode;
    EXPECT_EQ(Slurp(p.destination), Slurp(kFixtures + "expected_" + mode + ".wgt")) << mode;
  }
}

void ExpectRefused(const Params &p, const std::string &err, const std::string &what) {
  const RunResult r = p.Run();
  EXPECT_EQ(r.status, 1) << what;
  EXPECT_EQ(r.err, err) << what;
  EXPECT_EQ(r.out, "") << what;
  EXPECT_EQ(Slurp(p.destination), "") << what << ": nothing may be written";
}

TEST(KestraneRun, RefusesDataThatDoesNotFitBeforeTraining) {
  Params p = Standard();
  p.classes = {"/nonexistent/a.dat", p.classes[0], "/nonexistent/b.dat"};
  p.examples = "Examples = 4 Examples = 4 Examples = 4";
  ExpectRefused(p,
                "Unable to open file /nonexistent/a.dat\nUnable to open file /nonexistent/b.dat\n",
                "missing classes");

  p = Standard();
  const std::string wide = ClassFile(1, 3);
  p.classes[1] = wide;
  ExpectRefused(p,
                "Data file " + wide + " has 3 inputs and 1 outputs, but " + p.classes[0] +
                    " has 2 and 1\n",
                "tables differ");

  p = Standard();
  p.rest += " #Features = 1 Features = 1";
  ExpectRefused(p, "The data presents 1 input values but the network has 2 inputs\n",
                "too few features");

  p = Standard();
  p.rest += " #Features = 2 Features = 0 2";
  ExpectRefused(p, "Feature column 2 is outside the 2 input columns of the data files\n",
                "feature outside");

  p = Standard();
  p.classes = {ClassFile(0, 2, 2), ClassFile(1, 2, 2)};
  ExpectRefused(p, "The data has 2 output values but the network has 1 outputs\n",
                "outputs differ");

  p = Standard();
  p.examples = "Examples = 0 Examples = 0";
  ExpectRefused(p,
                "Empty training set: every class gives 0 examples\nBad Parameter\n"
                "TVemoBPBootStrap::Run\n",
                "no rows drawn");

  p = Standard();
  p.classes.pop_back();
  p.examples = "Examples = 4";
  ExpectRefused(p, "Insufficient number of classes\nBad Parameter\nTDataManip::Recombine\n",
                "one class");

  p = Standard();
  p.destination = "/nonexistent/dir/trained.wgt";
  ExpectRefused(p, "Unable to write file /nonexistent/dir/trained.wgt: No such file or directory\n",
                "destination");
}

// Examples above a class's rows: refused as always, unless the file asks for
// draws with replacement; the key changes nothing for counts within the rows.
TEST(KestraneRun, WithReplacementDrawsBeyondAClass) {
  struct Case {
    const char *name, *examples, *key;
    int status;
  };
  const Case cases[] = {
      {"beyond, no key", "Examples = 12 Examples = 4", "", 1},
      {"beyond, key false", "Examples = 12 Examples = 4", " WithReplacement = false", 1},
      {"beyond, key true", "Examples = 12 Examples = 4", " WithReplacement = true", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Params p = Standard();
    p.examples = c.examples;
    p.rest += c.key;
    const RunResult r = p.Run();
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.status != 0) {
      EXPECT_NE(r.err.find("Insufficient rows: data file "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("class.dat has 8 rows, 12 examples per draw asked of it; ask at most 8, "
                           "or draw with replacement\n"),
                std::string::npos)
          << r.err;
    }
  }
  Params p = Standard();
  p.Run();
  const std::string without = Slurp(p.destination);
  p.rest += " WithReplacement = true";
  p.Run();
  EXPECT_EQ(Slurp(p.destination), without);
}

// A file without the key, or with it false, keeps the centres and the bytes
// of a run; with it true the saved network's input centres have moved.
TEST(KestraneRun, LearnCentresKeyMovesOnlyTheInputCentres) {
  Params p = Standard();
  p.Run();
  const std::string without = Slurp(p.destination);
  p.rest += " LearnCentres = false";
  p.Run();
  EXPECT_EQ(Slurp(p.destination), without);
  p.rest += " LearnCentres = true";
  const RunResult r = p.Run();
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string learned = Slurp(p.destination);
  EXPECT_NE(learned, without);
  const auto centres = [](const std::string &text) {
    const size_t at = text.find("ToConditionConnections");
    return text.substr(at, text.find("[~Matrix]", at) - at);
  };
  EXPECT_NE(centres(learned), centres(without));
}

TEST(KestraneRun, RefusesANetworkItCannotTrain) {
  const int sizes[] = {2, 3, 1};
  TMLPNetwork mlp(3, sizes, true);
  Params p = Standard();
  p.weights = NetworkFile(mlp);
  ExpectRefused(p, "Not a Vemo network: MLP\nBad Parameter\nTVemoBP::TVemoBP\n", "MLP");
}

TEST(KestraneRun, MoreInputsThanTheNetworkReadsOnlyWarn) {
  Params p = Standard();
  p.classes = {ClassFile(0, 3), ClassFile(1, 3)};
  const RunResult r = p.Run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "!Warning: the data presents 3 input values; the network reads only the first 2\n");
  EXPECT_EQ(r.out.rfind("Error = ", 0), 0u);
}

} // namespace
