#include "Boot/FitPipeline.h"
#include "Boot/ParameterFile.h"
#include "DataObject/Data.h"
#include "DataTools/CsvImport/ClassSplit.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/TException.h"
#include "Tool/ToolCommon.h"
#include "Tool/ToolCreate.h"
#include "Tool/ToolCv.h"
#include "Tool/ToolEval.h"
#include "Tool/ToolImport.h"
#include "Tool/ToolPredict.h"
#include "Tool/ToolRules.h"
#include "Vemo/TVemo.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

namespace {

// Each test writes into a directory of its own, removed afterwards.
std::string gDirectory;

std::string TempPath(const std::string &name) {
  static int counter = 0;
  return gDirectory + "/" + std::to_string(counter++) + "_" + name;
}

bool Exists(const std::string &path) { return std::ifstream(path).good(); }

std::string WriteFile(const std::string &name, const std::string &text) {
  const std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

class ToolTest : public testing::Test {
protected:
  void SetUp() override {
    scratch = std::make_unique<testsupport::ScratchDir>("kestrane_tool_");
    gDirectory = scratch->Path();
    ASSERT_FALSE(gDirectory.empty());
  }
  void TearDown() override { scratch.reset(); }

  std::unique_ptr<testsupport::ScratchDir> scratch;
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

using Command = int (*)(const std::vector<std::string> &, std::ostream &, std::ostream &);

Outcome RunTool(Command command, const std::vector<std::string> &args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = kestrane::RunGuarded([&] { return command(args, out, err); }, err);
  return {status, out.str(), err.str()};
}

// Two classes that the first feature separates; the second is noise.
std::string TwoClassCsv(int perClass) {
  std::string text = "width,noise,label\r\n";
  for (int i = 0; i < perClass; ++i) {
    text += std::to_string(1 + i % 5) + "," + std::to_string(i % 3) + ",\"small, round\"\r\n";
    text += std::to_string(8 + i % 5) + "," + std::to_string((i + 1) % 3) + ",large\r\n";
  }
  return text + "\r\n";
}

TEST_F(ToolTest, GuardReportsEachFailureKindOnOneLineOrThree) {
  std::ostringstream err;
  EXPECT_EQ(kestrane::RunGuarded([]() -> int { throw std::bad_alloc(); }, err), 1);
  EXPECT_EQ(kestrane::RunGuarded(
                []() -> int {
                  throw kestrane::TException("Must be >= 2 MF per input", kestrane::kBadParameter,
                                             "TVemo::TVemo");
                },
                err),
            1);
  EXPECT_EQ(kestrane::RunGuarded(
                []() -> int { throw kestrane::FileTools::Error("End Tag expected"); }, err),
            1);
  EXPECT_EQ(
      err.str(),
      "out of memory\nMust be >= 2 MF per input\nBad Parameter\nTVemo::TVemo\nEnd Tag expected\n");
}

TEST_F(ToolTest, EverySubcommandHasHelp) {
  for (Command c :
       {kestrane::ToolCreate, kestrane::ToolImport, kestrane::ToolEval, kestrane::ToolPredict,
        kestrane::ToolCv, kestrane::ToolRules, kestrane::ToolSimplify}) {
    const Outcome o = RunTool(c, {"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("Usage: kestrane-tool ", 0), 0u) << o.out;
  }
  const Outcome bad = RunTool(kestrane::ToolImport, {"--colour", "x.csv"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "unknown option --colour (see kestrane-tool import --help)\n");
}

TEST_F(ToolTest, ImportWritesClassFilesTestFileRangesAndParameters) {
  const std::string csv = WriteFile("shapes.csv", TwoClassCsv(10));
  const std::string prefix = TempPath("shapes");
  const Outcome o =
      RunTool(kestrane::ToolImport, {csv, "--holdout", "0.3", "--seed", "5", "-o", prefix});
  ASSERT_EQ(o.status, 0) << o.err;
  kestrane::FileTools tools;
  std::unique_ptr<kestrane::Data> large;
  std::unique_ptr<kestrane::Data> small;
  ASSERT_EQ(tools.LoadTrainingSet((prefix + "-large.dat").c_str(), large), 0);
  ASSERT_EQ(tools.LoadTrainingSet((prefix + "-small__round.dat").c_str(), small), 0);
  EXPECT_EQ(large->MbrNdxDataRows, 7);
  EXPECT_EQ(large->MbrNdxInputs, 2);
  EXPECT_EQ(large->GetOutputDatum(0, 0), 1.0); // "large" sorts before "small, round"
  EXPECT_EQ(small->GetOutputDatum(0, 1), 1.0);
  std::unique_ptr<kestrane::Data> test;
  ASSERT_EQ(tools.LoadTrainingSet((prefix + "-test.dat").c_str(), test), 0);
  EXPECT_EQ(test->MbrNdxDataRows, 6);

  std::ifstream param(prefix + ".param");
  kestrane::RunSettings settings;
  EXPECT_EQ(kestrane::LoadParameters(param, settings), "");
  EXPECT_EQ(settings.dataFiles,
            (std::vector<std::string>{prefix + "-large.dat", prefix + "-small__round.dat"}));
  EXPECT_EQ(settings.examples, (std::vector<int32_t>{7, 7}));
  EXPECT_EQ(settings.weightFile, prefix + "-initial.wgt");
  EXPECT_EQ(settings.seed, 5);

  // New data through the ranges: one file, out-of-range values clipped.
  const std::string fresh =
      WriteFile("fresh.csv", "label,noise,width\nlarge,1,20\nsmall, round,1,3\n");
  const std::string freshPrefix = TempPath("fresh");
  const Outcome again =
      RunTool(kestrane::ToolImport, {fresh, "--ranges", prefix + ".ranges", "-o", freshPrefix});
  EXPECT_EQ(again.status, 1); // "small, round" unquoted splits into two fields
  EXPECT_NE(again.err.find("line 3: 4 fields"), std::string::npos) << again.err;
  const std::string quoted =
      WriteFile("fresh.csv", "label,noise,width\nlarge,1,20\n\"small, round\",1,3\n");
  const Outcome ok =
      RunTool(kestrane::ToolImport, {quoted, "--ranges", prefix + ".ranges", "-o", freshPrefix});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.err,
            "!Warning: 1 value outside the ranges of the earlier import was clipped to [0, 1]\n");
  std::unique_ptr<kestrane::Data> table;
  ASSERT_EQ(tools.LoadTrainingSet((freshPrefix + ".dat").c_str(), table), 0);
  EXPECT_EQ(table->GetInputDatum(0, 0), 1.0);
}

TEST_F(ToolTest, FailedImportWritesNothing) {
  const std::string prefix = TempPath("bad");
  const std::string csv = WriteFile("bad.csv", "a,b,c\n1,2,x\n1,oops,y\n3,4,x\n5,6,y\n");
  const Outcome o = RunTool(kestrane::ToolImport, {csv, "-o", prefix});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "line 3: \"oops\" in column \"b\" is not a number; most of the column's "
                   "values are (--categorical b takes every value as a category); the class is the "
                   "last column, \"c\", unless --class names another\n");
  for (const char *suffix : {"-x.dat", "-y.dat", ".ranges", ".param"})
    EXPECT_FALSE(Exists(prefix + suffix)) << suffix;
  // An output that cannot take its place (a directory of that name) stops all of them.
  const std::string good = WriteFile("good.csv", "a,c\n1,x\n2,x\n3,y\n4,y\n");
  ASSERT_EQ(mkdir((prefix + ".param").c_str(), 0700), 0);
  const Outcome blocked = RunTool(kestrane::ToolImport, {good, "-o", prefix});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err, "cannot write " + prefix + ".param: it is a directory\n");
  for (const char *suffix : {"-x.dat", "-y.dat", ".ranges"})
    EXPECT_FALSE(Exists(prefix + suffix)) << suffix;
  rmdir((prefix + ".param").c_str());
  EXPECT_EQ(RunTool(kestrane::ToolImport, {good, "-o", prefix + "/no/such/dir"}).status, 1);
  EXPECT_EQ(RunTool(kestrane::ToolImport, {good, "-o", prefix + " two"}).status, 1);
  EXPECT_EQ(RunTool(kestrane::ToolImport, {TempPath("missing.csv")}).status, 1);
  EXPECT_EQ(RunTool(kestrane::ToolImport, {WriteFile("empty.csv", "")}).err,
            "the CSV file is empty (no header row)\n");
}

TEST_F(ToolTest, ImportNamesAMissingFolderAndCountsInTheSingular) {
  const std::string csv = WriteFile("one.csv", "a,c\n1,x\n2,x\n3,y\n4,y\n5,y\n6,y\n");
  const std::string prefix = TempPath("one");
  const Outcome ok = RunTool(kestrane::ToolImport, {csv, "--holdout", "0.5", "-o", prefix});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find(": 1 feature, 2 classes"), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("  x: 1 training row in " + prefix + "-x.dat"), std::string::npos)
      << ok.out;
  EXPECT_NE(ok.out.find("  y: 2 training rows in"), std::string::npos) << ok.out;

  const std::string missing = TempPath("missing-dir");
  const std::string notFolder = WriteFile("plain", "");
  const struct {
    std::string prefix;
    std::string err;
  } refused[] = {
      {missing + "/x", "-o: the folder " + missing + " does not exist\n"},
      {missing + "/deeper/x", "-o: the folder " + missing + "/deeper does not exist\n"},
      {notFolder + "/x", "-o: " + notFolder + " is not a folder\n"},
  };
  for (const auto &c : refused) {
    const Outcome o = RunTool(kestrane::ToolImport, {csv, "-o", c.prefix});
    EXPECT_EQ(o.status, 1) << c.prefix;
    EXPECT_EQ(o.err, c.err);
  }
}

TEST_F(ToolTest, CreateRejectsBadCountsOnOneLine) {
  const std::string file = TempPath("net.wgt");
  const std::vector<std::vector<std::string>> cases = {
      {"--inputs", "2", "--input-mfs", "1", "--rules", "3", "--outputs", "1", "-o", file},
      {"--inputs", "2", "--input-mfs", "3,1", "--rules", "3", "--outputs", "1", "-o", file},
      {"--inputs", "2", "--input-mfs", "3,3,3", "--rules", "3", "--outputs", "1", "-o", file},
      {"--inputs", "2", "--rules", "0", "--outputs", "1", "-o", file},
      {"--inputs", "two", "--rules", "3", "--outputs", "1", "-o", file},
      {"--inputs", "2", "--rules", "3x", "--outputs", "1", "-o", file},
      {"--inputs", "2", "--rules", "3", "--outputs", "1", "--output-mfs", "1", "-o", file},
      {"--inputs", "2", "--rules", "3", "--outputs", "1", "--weights", "1,-1", "-o", file},
      {"--inputs", "2", "--rules", "3", "--outputs", "1", "--seed", "-4", "-o", file},
      {"--inputs", "2", "--rules", "3", "--outputs", "1"},
      // Within every count's cap, but the matrix 1 -> 2 alone exceeds what the reader accepts.
      {"--inputs", "6000", "--rules", "1", "--outputs", "1", "-o", file},
  };
  for (const auto &args : cases) {
    const Outcome o = RunTool(kestrane::ToolCreate, args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_FALSE(Exists(file));
  }
}

TEST_F(ToolTest, ClassifyOneHotAndSingleOutput) {
  // Rows: class 0 predicted 0, class 1 predicted 0, class 2 predicted 2.
  const kestrane::ClassReport r = kestrane::Classify(
      {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0.9, 0.1, 0.2, 0.6, 0.5, 0.1, 0.1, 0.2, 0.7}, 3);
  ASSERT_TRUE(r.classified);
  EXPECT_EQ(r.correct, 2);
  EXPECT_EQ(r.confusion[1][0], 1);
  const kestrane::ClassReport one = kestrane::Classify({1, 0, 0}, {0.7, 0.5, 0.4}, 1);
  ASSERT_TRUE(one.classified);
  EXPECT_EQ(one.classes, 2);
  EXPECT_EQ(one.correct, 2); // 0.5 reads as class 1
  EXPECT_FALSE(kestrane::Classify({1, 1, 0, 1}, {0, 0, 0, 0}, 2).classified);
  EXPECT_FALSE(kestrane::Classify({0.3}, {0.3}, 1).classified);
}

using testsupport::Slurp;

TEST_F(ToolTest, CreateWritesTheRequestedNetworkReproducibly) {
  const std::string file = TempPath("net.wgt");
  const std::vector<std::string> args = {
      "--inputs", "2",         "--input-mfs", "3,2",    "--rules", "4",  "--outputs",
      "1",        "--weights", "-0.25,0.25",  "--seed", "9",       "-o", file};
  ASSERT_EQ(RunTool(kestrane::ToolCreate, args).status, 0);
  kestrane::FileTools tools;
  std::unique_ptr<kestrane::TBasicNetwork> loaded = tools.LoadNetwork(file.c_str());
  auto *vemo = dynamic_cast<kestrane::TVemo *>(loaded.get());
  ASSERT_NE(vemo, nullptr);
  int inputs = 0, conditions = 0, rules = 0, actions = 0, outputs = 0;
  std::vector<int> mfIn, mfOut;
  vemo->GetStructure(inputs, conditions, mfIn, rules, actions, mfOut, outputs);
  EXPECT_EQ(mfIn, (std::vector<int>{3, 2}));
  EXPECT_EQ(rules, 4);
  EXPECT_EQ(mfOut, (std::vector<int>{3}));
  for (double w : vemo->GetWeightLayer(2)) {
    EXPECT_GE(w, -0.25);
    EXPECT_LE(w, 0.25);
  }
  const std::string again = TempPath("again.wgt");
  std::vector<std::string> same = args;
  same.back() = again;
  ASSERT_EQ(RunTool(kestrane::ToolCreate, same).status, 0);
  EXPECT_EQ(Slurp(file), Slurp(again));
  same[same.size() - 3] = "10";
  ASSERT_EQ(RunTool(kestrane::ToolCreate, same).status, 0);
  EXPECT_NE(Slurp(file), Slurp(again));
}

TEST_F(ToolTest, EvalReportsClassesAndWritesGeneratedOutputs) {
  const std::string csv = WriteFile("shapes.csv", TwoClassCsv(6));
  const std::string prefix = TempPath("shapes");
  ASSERT_EQ(RunTool(kestrane::ToolImport, {csv, "-o", prefix}).status, 0);
  const std::string net = TempPath("net.wgt");
  ASSERT_EQ(
      RunTool(kestrane::ToolCreate, {"--inputs", "2", "--rules", "3", "--outputs", "2", "-o", net})
          .status,
      0);
  const std::string results = TempPath("results.dat");
  const Outcome o =
      RunTool(kestrane::ToolEval, {net, prefix + "-large.dat", prefix + "-small__round.dat",
                                   "--ranges", prefix + ".ranges", "-o", results});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("Rows: 12\nRMS error: "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Accuracy: "), std::string::npos);
  EXPECT_NE(o.out.find("small, round"), std::string::npos); // class names from the ranges file
  kestrane::FileTools tools;
  std::unique_ptr<kestrane::Data> first, second;
  ASSERT_EQ(tools.LoadDataSet(results.c_str(), first, second), 0);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->MbrNdxDataRows, 12);
  EXPECT_EQ(second->MbrNdxInputs, 2);
  EXPECT_DOUBLE_EQ(second->GetOutputDatum(0, 0),
                   first->GetOutputDatum(0, 0) - second->GetInputDatum(0, 0));

  // Counts that do not fit the network, and a ranges file of other classes.
  const std::string wide = TempPath("wide.wgt");
  ASSERT_EQ(
      RunTool(kestrane::ToolCreate, {"--inputs", "3", "--rules", "3", "--outputs", "2", "-o", wide})
          .status,
      0);
  EXPECT_EQ(RunTool(kestrane::ToolEval, {wide, prefix + "-large.dat"}).err,
            prefix + "-large.dat: 2 inputs per row, the network takes 3\n");
  const std::string three = TempPath("three.wgt");
  ASSERT_EQ(RunTool(kestrane::ToolCreate,
                    {"--inputs", "2", "--rules", "3", "--outputs", "3", "-o", three})
                .status,
            0);
  EXPECT_EQ(RunTool(kestrane::ToolEval, {three, prefix + "-large.dat"}).err,
            prefix + "-large.dat: 2 expected outputs per row, the network gives 3\n");
  EXPECT_EQ(RunTool(kestrane::ToolEval, {net}).status, 1);
  EXPECT_EQ(RunTool(kestrane::ToolEval, {net, TempPath("none.dat")}).status, 1);
}

// ---- predict, cv, and the guards around them

const std::string kIris = std::string(KESTRANE_SOURCE_DIR) + "/examples/iris/";

// The predicted column of a predict table, header left out.
std::vector<std::string> PredictedColumn(const std::string &table) {
  std::vector<std::string> classes;
  std::istringstream in(table);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line))
    classes.push_back(line.substr(0, line.find(',')));
  return classes;
}

TEST_F(ToolTest, PredictGivesTheClassesEvalCountsOnTheShippedExample) {
  for (const char *name :
       {"iris.param", "iris-initial.wgt", "iris-setosa.dat", "iris-versicolor.dat",
        "iris-virginica.dat", "iris-test.dat", "iris.ranges"}) {
    std::filesystem::copy_file(kIris + name, gDirectory + "/" + name);
  }
  ASSERT_EQ(std::system(
                ("cd '" + gDirectory + "' && '" KESTRANE_BINARY "' iris.param >/dev/null").c_str()),
            0);
  const std::string net = gDirectory + "/iris-trained.wgt";
  const std::string ranges = gDirectory + "/iris.ranges";

  // The held-out rows as the example's import chose them, in the test file's
  // order, the class column dropped and the features shuffled.
  std::ifstream csvIn(kIris + "iris.csv");
  const kestrane::CsvTable csv = kestrane::ReadCsv(csvIn);
  const kestrane::LabelledRows read = kestrane::ReadLabelledRows(csv, kestrane::ImportRequest{});
  const kestrane::EncodedClasses classes = kestrane::EncodeClasses(read.labels);
  std::vector<std::vector<int>> rowsOfClass(classes.names.size());
  for (size_t r = 0; r < read.labels.size(); ++r)
    rowsOfClass[classes.classOf[r]].push_back(static_cast<int>(r));
  std::string rows = "petal_width,id,sepal_length,petal_length,sepal_width\n";
  std::vector<std::string> truth;
  for (const kestrane::ClassSplit &split : kestrane::SplitClasses(rowsOfClass, 0.3, 7)) {
    for (int r : split.test) {
      const std::vector<std::string> &cells = csv.rows[r];
      rows += cells[3] + ",x" + std::to_string(r) + "," + cells[0] + "," + cells[2] + "," +
              cells[1] + "\n";
      truth.push_back(read.labels[r]);
    }
  }
  const Outcome predicted =
      RunTool(kestrane::ToolPredict, {net, WriteFile("new.csv", rows), "--ranges", ranges});
  ASSERT_EQ(predicted.status, 0) << predicted.err;
  EXPECT_EQ(predicted.out.substr(0, predicted.out.find('\n')),
            "predicted,setosa,versicolor,virginica");

  const std::string generated = TempPath("generated.dat");
  const Outcome eval = RunTool(kestrane::ToolEval, {net, gDirectory + "/iris-test.dat", "--ranges",
                                                    ranges, "-o", generated});
  ASSERT_EQ(eval.status, 0) << eval.err;
  std::unique_ptr<kestrane::Data> first, second;
  ASSERT_EQ(kestrane::FileTools().LoadDataSet(generated.c_str(), first, second), 0);
  std::vector<std::string> counted;
  for (int32_t r = 0; r < second->MbrNdxDataRows; ++r) {
    counted.push_back(classes.names[kestrane::PredictedClass(second->InputSlot(r), 3)]);
  }
  EXPECT_EQ(PredictedColumn(predicted.out), counted);
  long correct = 0;
  for (size_t r = 0; r < truth.size(); ++r)
    correct += counted[r] == truth[r];
  EXPECT_NE(eval.out.find("(" + std::to_string(correct) + " of 45 rows)"), std::string::npos)
      << eval.out;
}

TEST_F(ToolTest, PredictFailsOnOneLineAndLeavesNoFile) {
  const std::string prefix = TempPath("shapes");
  ASSERT_EQ(
      RunTool(kestrane::ToolImport, {WriteFile("shapes.csv", TwoClassCsv(6)), "-o", prefix}).status,
      0);
  const std::string net = TempPath("net.wgt");
  ASSERT_EQ(
      RunTool(kestrane::ToolCreate, {"--inputs", "2", "--rules", "3", "--outputs", "2", "-o", net})
          .status,
      0);
  const std::string out = TempPath("answers.csv");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"width\n3\n", "line 1: no column \"noise\", a feature of the ranges file\n"},
      {"noise,width\n1,2\n1,wide\n", "line 3: \"wide\" in column \"width\" is not a number\n"},
      {"noise,width\n1,\n", "line 2: missing value in column \"width\"\n"},
  };
  for (const auto &c : cases) {
    const Outcome o =
        RunTool(kestrane::ToolPredict, {net, WriteFile("rows.csv", c.first), "--ranges",
                                        prefix + ".ranges", "--na", "NA", "-o", out});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, c.second);
    EXPECT_FALSE(Exists(out));
  }
  const Outcome ok = RunTool(kestrane::ToolPredict,
                             {net, WriteFile("rows.csv", "noise,width,label\n1,3,x\n0,99,y\n"),
                              "--ranges", prefix + ".ranges", "-o", out});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "Wrote 2 predictions to " + out + "\n");
  EXPECT_EQ(ok.err.substr(0, ok.err.find('\n') + 1),
            "!Warning: 1 value outside the ranges of the import was clipped to [0, 1]\n");
  EXPECT_EQ(PredictedColumn(Slurp(out)).size(), 2u);
}

// The table's bytes, pinned for a seeded network: quoted class names, the
// shortest digits of every output, the warnings after the table. The rows
// repeated span several of the blocks predict answers at a time.
TEST_F(ToolTest, PredictTableIsPinnedByteForByte) {
  const std::string prefix = TempPath("shapes");
  ASSERT_EQ(
      RunTool(kestrane::ToolImport, {WriteFile("shapes.csv", TwoClassCsv(6)), "-o", prefix}).status,
      0);
  const std::string net = TempPath("net.wgt");
  ASSERT_EQ(
      RunTool(kestrane::ToolCreate, {"--inputs", "2", "--rules", "3", "--outputs", "2", "-o", net})
          .status,
      0);
  const std::string rows = "1,3,x\n0,99,y\n2,-4,z\n1,9.5,w\n";
  const std::string lines = "\"small, round\",0.4780220419858865,0.5450907313272096\n"
                            "\"small, round\",0.4811283320313171,0.5475107805931088\n"
                            "\"small, round\",0.4732115493866886,0.5454972164115084\n"
                            "\"small, round\",0.47914007300729533,0.5459821822655061\n";
  std::string csv = "noise,width,label\n", table = "predicted,large,\"small, round\"\n";
  for (int i = 0; i < 700; ++i)
    csv += rows, table += lines;
  const std::string input = WriteFile("rows.csv", csv);
  const std::string warnings =
      "!Warning: 1400 values outside the ranges of the import were clipped to [0, 1]\n" +
      std::string(kestrane::kOneClassWarning);
  const Outcome printed =
      RunTool(kestrane::ToolPredict, {net, input, "--ranges", prefix + ".ranges"});
  EXPECT_EQ(printed.status, 0);
  EXPECT_EQ(printed.out, table);
  EXPECT_EQ(printed.err, warnings);
  const std::string out = WriteFile("answers.csv", "previous");
  const Outcome saved =
      RunTool(kestrane::ToolPredict, {net, input, "--ranges", prefix + ".ranges", "-o", out});
  EXPECT_EQ(saved.out, "Wrote 2800 predictions to " + out + "\n");
  EXPECT_EQ(saved.err, warnings);
  EXPECT_EQ(Slurp(out), table);
}

// Zero rule and action weights give every row the same outputs: the picture
// of a run that diverged.
TEST_F(ToolTest, OneClassForEveryRowIsWarned) {
  const std::string prefix = TempPath("shapes");
  ASSERT_EQ(
      RunTool(kestrane::ToolImport, {WriteFile("shapes.csv", TwoClassCsv(6)), "-o", prefix}).status,
      0);
  const std::string flat = TempPath("flat.wgt");
  ASSERT_EQ(RunTool(kestrane::ToolCreate, {"--inputs", "2", "--rules", "3", "--outputs", "2",
                                           "--weights", "0,0", "-o", flat})
                .status,
            0);
  const std::string warning = kestrane::kOneClassWarning;
  EXPECT_EQ(
      RunTool(kestrane::ToolEval, {flat, prefix + "-large.dat", prefix + "-small__round.dat"}).err,
      warning);
  // Rows of one class rightly get one class.
  EXPECT_EQ(RunTool(kestrane::ToolEval, {flat, prefix + "-large.dat"}).err, "");
  EXPECT_EQ(RunTool(kestrane::ToolPredict, {flat, WriteFile("rows.csv", "noise,width\n1,1\n2,12\n"),
                                            "--ranges", prefix + ".ranges"})
                .err,
            warning);
  EXPECT_EQ(RunTool(kestrane::ToolPredict, {flat, WriteFile("one.csv", "noise,width\n1,1\n"),
                                            "--ranges", prefix + ".ranges"})
                .err,
            "");
}

TEST_F(ToolTest, ImportScalesOnTrainingRowsAndScalesTheBatchRate) {
  // The split depends on the class sizes and the seed alone: the rows it
  // holds out are given each column's extremes.
  std::vector<std::vector<int>> rowsOfClass(2);
  for (int r = 0; r < 10; ++r)
    rowsOfClass[r % 2].push_back(r);
  std::vector<double> xs = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const auto splits = kestrane::SplitClasses(rowsOfClass, 0.2, 3);
  xs[splits[0].test.at(0)] = 100;
  xs[splits[1].test.at(0)] = -50;
  std::string text = "x,c\n";
  for (int r = 0; r < 10; ++r)
    text += std::to_string(xs[r]) + "," + (r % 2 ? "b" : "a") + "\n";
  const std::string prefix = TempPath("held");
  const std::string csv = WriteFile("held.csv", text);
  const Outcome o = RunTool(kestrane::ToolImport,
                            {csv, "--holdout", "0.2", "--seed", "3", "--batch", "-o", prefix});
  ASSERT_EQ(o.status, 0) << o.err;
  std::ifstream rangesIn(prefix + ".ranges");
  const kestrane::ImportRanges ranges = kestrane::ReadRanges(rangesIn);
  std::unique_ptr<kestrane::Data> test;
  ASSERT_EQ(kestrane::FileTools().LoadTrainingSet((prefix + "-test.dat").c_str(), test), 0);
  ASSERT_EQ(test->MbrNdxDataRows, 2);
  // The training rows alone set the ranges; the held-out extremes are clipped.
  EXPECT_EQ(test->GetInputDatum(0, 0), 1.0);
  EXPECT_EQ(test->GetInputDatum(1, 0), 0.0);
  double low = 1e9, high = -1e9;
  for (const auto &split : splits) {
    for (int r : split.training)
      low = std::min(low, xs[r]), high = std::max(high, xs[r]);
  }
  EXPECT_EQ(ranges.features[0].min, low);
  EXPECT_EQ(ranges.features[0].max, high);
  EXPECT_EQ(o.err, "!Warning: 2 held-out values outside the ranges of the training rows were "
                   "clipped to [0, 1]\n");

  std::ifstream param(prefix + ".param");
  kestrane::RunSettings settings;
  ASSERT_EQ(kestrane::LoadParameters(param, settings), "");
  EXPECT_TRUE(settings.batch);
  EXPECT_FALSE(settings.learnCentres);
  EXPECT_EQ(settings.examples, (std::vector<int32_t>{4, 4}));
  EXPECT_FLOAT_EQ(settings.learningRate, 0.1f / 8); // one draw: 4 rows of each of 2 classes

  ASSERT_EQ(RunTool(kestrane::ToolImport, {csv, "--learn-centres", "-o", prefix}).status, 0);
  std::ifstream learning(prefix + ".param");
  ASSERT_EQ(kestrane::LoadParameters(learning, settings), "");
  EXPECT_TRUE(settings.learnCentres);
}

TEST_F(ToolTest, ImportNeverWritesARateThatTrainsNothing) {
  const std::string csv = WriteFile("tiny.csv", TwoClassCsv(5));
  const std::string prefix = TempPath("tiny");
  const Outcome batch =
      RunTool(kestrane::ToolImport, {csv, "--batch", "--learning-rate", "0.000004", "-o", prefix});
  ASSERT_EQ(batch.status, 0) << batch.err;
  EXPECT_NE(batch.err.find("!Warning: the batch LearningRate 4e-07 would reach the trainer as 0 "),
            std::string::npos)
      << batch.err;
  std::ifstream param(prefix + ".param");
  kestrane::RunSettings settings;
  ASSERT_EQ(kestrane::LoadParameters(param, settings), "");
  EXPECT_FLOAT_EQ(settings.learningRate, 0.000001f);
  const Outcome online =
      RunTool(kestrane::ToolImport, {csv, "--learning-rate", "1e-7", "-o", prefix});
  EXPECT_EQ(online.status, 1);
  EXPECT_EQ(online.err,
            "--learning-rate: 1e-07 reaches the trainer as 0 (it takes six decimals); it would "
            "train nothing; use at least 0.000001, with six decimals or fewer\n");
}

TEST_F(ToolTest, CvOnIrisIsPinnedForASeedWhateverTheJobs) {
  const std::string expected = "Read 150 rows of " + kIris +
                               "iris.csv: 4 features, 3 classes (column \"species\")\n"
                               "5-fold cross-validation, seed 1\n";
  std::string first;
  for (const char *jobs : {"1", "2"}) {
    const Outcome o = RunTool(kestrane::ToolCv, {kIris + "iris.csv", "--jobs", jobs});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, expected.size()), expected);
    EXPECT_EQ(o.err, "");
    if (first.empty())
      first = o.out;
    EXPECT_EQ(o.out, first);
  }
  EXPECT_EQ(first.substr(expected.size()), "rules 7, input-mfs 3, output-mfs 3, epochs 500, "
                                           "change-after 10, learning-rate 0.1, momentum 0.5,"
                                           " batch false\n"
                                           "  folds: 96.67 % 96.67 % 90.00 % 96.67 % 93.33 %\n"
                                           "  mean 94.67 % \xc2\xb1 2.98 %\n"
                                           "To train with these settings:\n"
                                           "  kestrane-tool create --inputs 4 --input-mfs 3 "
                                           "--rules 7 --outputs 3 --output-mfs 3 --seed 1 -o " +
                                               kIris +
                                               "iris-initial.wgt\n"
                                               "  Epochs = 500\n  ChangeAfter = 10\n  LearningRate "
                                               "= 0.1\n  Momentum = 0.5\n  Batch = false\n"
                                               "  Seed = 1\n");
}

TEST_F(ToolTest, CvGridPicksTheBestMeanAndTiesGoToTheSmallerNetwork) {
  // Classes far apart: 6 and 4 rules both score 100 % (2 rules miss a row),
  // and the tie goes to 4.
  const std::string csv = WriteFile("apart.csv", TwoClassCsv(15));
  const Outcome o =
      RunTool(kestrane::ToolCv, {csv, "--folds", "3", "--rules", "6,2,4", "--epochs", "60"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 2 + 3 * 3 + 2 + 8) << o.out;
  EXPECT_NE(o.out.find("Best of 3: rules 4,"), std::string::npos) << o.out;
  EXPECT_NE(
      o.out.find(
          "  kestrane-tool create --inputs 2 --input-mfs 3 --rules 4 --outputs 2 --output-mfs 3"
          " --seed 1 -o "),
      std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("\n  Epochs = 60\n"), std::string::npos);
  const std::vector<std::vector<std::string>> bad = {
      {csv, "--folds", "1"},     {csv, "--rules", "2,x"},
      {csv, "--batch", "maybe"}, {csv, "--learn-centres", "maybe"},
      {csv, "--folds", "31"},    {csv, "--learning-rate", "0.1,1e-7"}};
  for (const auto &args : bad) {
    const Outcome b = RunTool(kestrane::ToolCv, args);
    EXPECT_EQ(b.status, 1);
    EXPECT_EQ(std::count(b.err.begin(), b.err.end(), '\n'), 1) << b.err;
  }
  // Asked for, the axis is named; a winner that learns its centres says so.
  const Outcome c = RunTool(kestrane::ToolCv, {csv, "--folds", "3", "--rules", "4", "--epochs",
                                               "60", "--learn-centres", "true"});
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_NE(c.out.find(", batch false, learn-centres true\n"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("\n  Seed = 1\n  LearnCentres = true\n"), std::string::npos) << c.out;
}

} // namespace
