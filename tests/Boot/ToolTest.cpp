#include "Boot/ToolCommon.h"
#include "Boot/ToolCreate.h"
#include "Boot/ToolEval.h"
#include "Boot/ToolImport.h"
#include "Boot/ParameterFile.h"
#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/TException.h"
#include "Vemo/TVemo.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
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
  EXPECT_EQ(kestrane::RunGuarded([]() -> int {
              throw kestrane::TException("Must be >= 2 MF per input", kestrane::kBadParameter, "TVemo::TVemo");
            }, err), 1);
  EXPECT_EQ(kestrane::RunGuarded([]() -> int { throw kestrane::FileTools::Error("End Tag expected"); }, err), 1);
  EXPECT_EQ(err.str(), "out of memory\nMust be >= 2 MF per input\nBad Parameter\nTVemo::TVemo\nEnd Tag expected\n");
}

TEST_F(ToolTest, EverySubcommandHasHelp) {
  for (Command c : {kestrane::ToolCreate, kestrane::ToolImport, kestrane::ToolEval}) {
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
  const Outcome o = RunTool(kestrane::ToolImport, {csv, "--holdout", "0.3", "--seed", "5", "-o", prefix});
  ASSERT_EQ(o.status, 0) << o.err;
  kestrane::FileTools tools;
  std::unique_ptr<kestrane::Data> large;
  std::unique_ptr<kestrane::Data> small;
  ASSERT_EQ(tools.LoadTrainingSet((prefix + "-large.dat").c_str(), large), 0);
  ASSERT_EQ(tools.LoadTrainingSet((prefix + "-small__round.dat").c_str(), small), 0);
  EXPECT_EQ(large->MbrNdxDataRows, 7);
  EXPECT_EQ(large->MbrNdxInputs, 2);
  EXPECT_EQ(large->GetOutputDatum(0, 0), 1.0);  // "large" sorts before "small, round"
  EXPECT_EQ(small->GetOutputDatum(0, 1), 1.0);
  std::unique_ptr<kestrane::Data> test;
  ASSERT_EQ(tools.LoadTrainingSet((prefix + "-test.dat").c_str(), test), 0);
  EXPECT_EQ(test->MbrNdxDataRows, 6);

  std::ifstream param(prefix + ".param");
  kestrane::RunSettings settings;
  EXPECT_EQ(kestrane::LoadParameters(param, settings), "");
  EXPECT_EQ(settings.dataFiles, (std::vector<std::string>{prefix + "-large.dat", prefix + "-small__round.dat"}));
  EXPECT_EQ(settings.examples, (std::vector<int32_t>{7, 7}));
  EXPECT_EQ(settings.weightFile, prefix + "-initial.wgt");
  EXPECT_EQ(settings.seed, 5);

  // New data through the ranges: one file, out-of-range values clipped.
  const std::string fresh = WriteFile("fresh.csv", "label,noise,width\nlarge,1,20\nsmall, round,1,3\n");
  const std::string freshPrefix = TempPath("fresh");
  const Outcome again = RunTool(kestrane::ToolImport, {fresh, "--ranges", prefix + ".ranges", "-o", freshPrefix});
  EXPECT_EQ(again.status, 1);  // "small, round" unquoted splits into two fields
  EXPECT_NE(again.err.find("line 3: 4 fields"), std::string::npos) << again.err;
  const std::string quoted = WriteFile("fresh.csv", "label,noise,width\nlarge,1,20\n\"small, round\",1,3\n");
  const Outcome ok = RunTool(kestrane::ToolImport, {quoted, "--ranges", prefix + ".ranges", "-o", freshPrefix});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.err, "!Warning: 1 values outside the ranges of the earlier import were clipped to [0, 1]\n");
  std::unique_ptr<kestrane::Data> table;
  ASSERT_EQ(tools.LoadTrainingSet((freshPrefix + ".dat").c_str(), table), 0);
  EXPECT_EQ(table->GetInputDatum(0, 0), 1.0);
}

TEST_F(ToolTest, FailedImportWritesNothing) {
  const std::string prefix = TempPath("bad");
  const std::string csv = WriteFile("bad.csv", "a,b,c\n1,2,x\n1,oops,y\n3,4,x\n5,6,y\n");
  const Outcome o = RunTool(kestrane::ToolImport, {csv, "-o", prefix});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "line 3: \"oops\" in column \"b\" is not a number\n");
  for (const char *suffix : {"-x.dat", "-y.dat", ".ranges", ".param"}) EXPECT_FALSE(Exists(prefix + suffix)) << suffix;
  // An output that cannot take its place (a directory of that name) stops all of them.
  const std::string good = WriteFile("good.csv", "a,c\n1,x\n2,x\n3,y\n4,y\n");
  ASSERT_EQ(mkdir((prefix + ".param").c_str(), 0700), 0);
  const Outcome blocked = RunTool(kestrane::ToolImport, {good, "-o", prefix});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err, "cannot write " + prefix + ".param: it is a directory\n");
  for (const char *suffix : {"-x.dat", "-y.dat", ".ranges"}) EXPECT_FALSE(Exists(prefix + suffix)) << suffix;
  rmdir((prefix + ".param").c_str());
  EXPECT_EQ(RunTool(kestrane::ToolImport, {good, "-o", prefix + "/no/such/dir"}).status, 1);
  EXPECT_EQ(RunTool(kestrane::ToolImport, {good, "-o", prefix + " two"}).status, 1);
  EXPECT_EQ(RunTool(kestrane::ToolImport, {TempPath("missing.csv")}).status, 1);
  EXPECT_EQ(RunTool(kestrane::ToolImport, {WriteFile("empty.csv", "")}).err, "the CSV file is empty (no header row)\n");
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
  const kestrane::ClassReport r =
      kestrane::Classify({1, 0, 0, 0, 1, 0, 0, 0, 1}, {0.9, 0.1, 0.2, 0.6, 0.5, 0.1, 0.1, 0.2, 0.7}, 3);
  ASSERT_TRUE(r.classified);
  EXPECT_EQ(r.correct, 2);
  EXPECT_EQ(r.confusion[1][0], 1);
  const kestrane::ClassReport one = kestrane::Classify({1, 0, 0}, {0.7, 0.5, 0.4}, 1);
  ASSERT_TRUE(one.classified);
  EXPECT_EQ(one.classes, 2);
  EXPECT_EQ(one.correct, 2);  // 0.5 reads as class 1
  EXPECT_FALSE(kestrane::Classify({1, 1, 0, 1}, {0, 0, 0, 0}, 2).classified);
  EXPECT_FALSE(kestrane::Classify({0.3}, {0.3}, 1).classified);
}

using testsupport::Slurp;

TEST_F(ToolTest, CreateWritesTheRequestedNetworkReproducibly) {
  const std::string file = TempPath("net.wgt");
  const std::vector<std::string> args = {"--inputs", "2", "--input-mfs", "3,2", "--rules", "4",
                                         "--outputs", "1", "--weights", "-0.25,0.25", "--seed", "9",
                                         "-o", file};
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
  ASSERT_EQ(RunTool(kestrane::ToolCreate, {"--inputs", "2", "--rules", "3", "--outputs", "2", "-o", net}).status, 0);
  const std::string results = TempPath("results.dat");
  const Outcome o = RunTool(kestrane::ToolEval, {net, prefix + "-large.dat", prefix + "-small__round.dat",
                                                 "--ranges", prefix + ".ranges", "-o", results});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("Rows: 12\nRMS error: "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Accuracy: "), std::string::npos);
  EXPECT_NE(o.out.find("small, round"), std::string::npos);  // class names from the ranges file
  kestrane::FileTools tools;
  std::unique_ptr<kestrane::Data> first, second;
  ASSERT_EQ(tools.LoadDataSet(results.c_str(), first, second), 0);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->MbrNdxDataRows, 12);
  EXPECT_EQ(second->MbrNdxInputs, 2);
  EXPECT_DOUBLE_EQ(second->GetOutputDatum(0, 0), first->GetOutputDatum(0, 0) - second->GetInputDatum(0, 0));

  // Counts that do not fit the network, and a ranges file of other classes.
  const std::string wide = TempPath("wide.wgt");
  ASSERT_EQ(RunTool(kestrane::ToolCreate, {"--inputs", "3", "--rules", "3", "--outputs", "2", "-o", wide}).status, 0);
  EXPECT_EQ(RunTool(kestrane::ToolEval, {wide, prefix + "-large.dat"}).err,
            prefix + "-large.dat: 2 inputs per row, the network takes 3\n");
  const std::string three = TempPath("three.wgt");
  ASSERT_EQ(RunTool(kestrane::ToolCreate, {"--inputs", "2", "--rules", "3", "--outputs", "3", "-o", three}).status, 0);
  EXPECT_EQ(RunTool(kestrane::ToolEval, {three, prefix + "-large.dat"}).err,
            prefix + "-large.dat: 2 expected outputs per row, the network gives 3\n");
  EXPECT_EQ(RunTool(kestrane::ToolEval, {net}).status, 1);
  EXPECT_EQ(RunTool(kestrane::ToolEval, {net, TempPath("none.dat")}).status, 1);
}

} // namespace
