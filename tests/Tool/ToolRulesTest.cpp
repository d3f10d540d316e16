// The rules and simplify commands on the network with known rules.

#include "Tool/ToolRules.h"
#include "FileHandler/ParseTools.h"
#include "Tool/ToolCommon.h"
#include "Tool/ToolImport.h"
#include "tests/Boot/ProgramRunner.h"
#include "tests/Vemo/RuleTestNetwork.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

using namespace kestrane;
using programtest::TempPath;
using programtest::WriteFile;

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

using Command = int (*)(const std::vector<std::string> &, std::ostream &, std::ostream &);

Outcome RunCommand(Command command, const std::vector<std::string> &args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunGuarded([&] { return command(args, out, err); }, err);
  return {status, out.str(), err.str()};
}

struct KnownFiles {
  std::string network, ranges, csv;
};

// Rows (size 10, weight 3) are A and (size 5, weight 2) are B: on the
// network's scale the two rows of KnownRows, three times each.
KnownFiles WriteKnownFiles() {
  KnownFiles f;
  f.network = TempPath("known.wgt");
  FileTools tools;
  tools.SaveNetwork(f.network.c_str(), *ruletest::KnownRulesNetwork());
  f.ranges =
      WriteFile("known.ranges",
                "kestrane-ranges 1\nclass\tkind\nfeature\t0\t10\tsize\nfeature\t2\t4\tweight\n"
                "output\tA\noutput\tB\n");
  f.csv = WriteFile("known.csv", "size,weight,kind\n10,3,A\n5,2,B\n10,3,A\n5,2,B\n10,3,A\n5,2,B\n");
  return f;
}

TEST(ToolRulesTest, TextAndJsonTellTheSameRules) {
  const KnownFiles f = WriteKnownFiles();
  for (const bool withData : {false, true}) {
    std::vector<std::string> args = {f.network, "--ranges", f.ranges};
    if (withData)
      args.insert(args.end(), {"--data", f.csv});
    args.push_back("--nodes");
    const Outcome text = RunCommand(ToolRules, args);
    ASSERT_EQ(text.status, 0) << text.err;
    args.back() = "--json";
    const Outcome json = RunCommand(ToolRules, args);
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json doc = nlohmann::json::parse(json.out);

    std::vector<int> nodes;
    size_t at = 0;
    for (const auto &rule : doc["rules"]) {
      nodes.push_back(rule["node"].get<int>());
      const std::string header = "Rule " + std::to_string(rule["rank"].get<int>()) + " (node " +
                                 std::to_string(nodes.back()) + ") \u2192 " +
                                 rule["conclusion"].get<std::string>();
      at = text.out.find(header, at);
      ASSERT_NE(at, std::string::npos) << header << "\n" << text.out;
      const size_t end = text.out.find("\nRule ", at + 1);
      for (const char *part : {"conditions", "conclusions"}) {
        for (const auto &arc : rule[part]) {
          at = text.out.find(arc["text"].get<std::string>(), at);
          ASSERT_LT(at, end) << arc["text"] << "\n" << text.out;
        }
      }
    }
    // By weights rule 2 (pull 2, peak firing 0.5) comes before rule 1 (pull 1,
    // peak 0.95); on the rows rule 1 fires more (mean 0.73 against 0.31).
    const std::vector<int> order = withData ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 2, 1};
    EXPECT_EQ(nodes, order) << text.out;
    EXPECT_EQ(doc["rules"][0]["conditions"][0]["text"], "size is high (\u2248 10)");
    EXPECT_EQ(doc["rules"][withData ? 2 : 1]["conclusion"], "not A");
    if (withData) {
      EXPECT_EQ(doc["evaluation"]["accuracy"], 100.0);
      EXPECT_EQ(doc["evaluation"]["fidelity"], 100.0);
      EXPECT_NE(text.out.find("accuracy 100.00%, fidelity 100.00%"), std::string::npos) << text.out;
    } else {
      EXPECT_FALSE(doc.contains("evaluation"));
    }
  }
}

TEST(ToolRulesTest, TopKeepsTheMostImportant) {
  const KnownFiles f = WriteKnownFiles();
  const Outcome top =
      RunCommand(ToolRules, {f.network, "--ranges", f.ranges, "--top", "1", "--json"});
  ASSERT_EQ(top.status, 0) << top.err;
  const nlohmann::json doc = nlohmann::json::parse(top.out);
  ASSERT_EQ(doc["rules"].size(), 1u);
  EXPECT_EQ(doc["rules"][0]["node"], 0);
  EXPECT_EQ(doc["rules_in_network"], 3);
}

TEST(ToolRulesTest, ClippedRowsAreAWarningOnTheErrorStream) {
  const KnownFiles f = WriteKnownFiles();
  const std::string wide = WriteFile("wide.csv", "size,weight,kind\n20,3,A\n5,2,B\n");
  const Outcome o = RunCommand(ToolRules, {f.network, "--ranges", f.ranges, "--data", wide});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "!Warning: 1 value of " + wide + " outside the ranges was clipped to [0, 1]\n");
  EXPECT_EQ(o.out.find("!Warning"), std::string::npos);
}

TEST(ToolRulesTest, RefusalsAreOneLine) {
  const KnownFiles f = WriteKnownFiles();
  const std::string threeFeatures = WriteFile(
      "three.ranges",
      "kestrane-ranges 1\nclass\tk\nfeature\t0\t1\ta\nfeature\t0\t1\tb\nfeature\t0\t1\tc\n"
      "output\tA\noutput\tB\n");
  const std::string otherClass = WriteFile("other.csv", "size,weight,kind\n1,3,C\n");
  const struct {
    Command command;
    std::vector<std::string> args;
    const char *message;
  } cases[] = {
      {ToolRules, {f.network}, "--ranges"},
      {ToolRules, {f.network, "--ranges", threeFeatures}, "3 features"},
      {ToolRules, {f.network, "--ranges", f.ranges, "--min-weight", "-1"}, "--min-weight"},
      {ToolRules, {TempPath("missing.wgt"), "--ranges", f.ranges}, "missing.wgt"},
      {ToolRules, {f.network, "--ranges", f.ranges, "--data", otherClass}, "other.csv"},
      {ToolSimplify, {f.network, "--ranges", f.ranges, "-o", TempPath("x.wgt")}, "--data"},
      {ToolSimplify, {f.network, "--ranges", f.ranges, "--data", f.csv}, "-o"},
      {ToolSimplify,
       {f.network, "--ranges", f.ranges, "--data", f.csv, "--max-drop", "-2", "-o",
        TempPath("x.wgt")},
       "--max-drop"},
  };
  for (const auto &c : cases) {
    const Outcome o = RunCommand(c.command, c.args);
    EXPECT_EQ(o.status, 1) << c.message;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
}

// The smaller network is an ordinary network file: the driver trains it and
// rules reads both it and the trained result.
TEST(ToolRulesTest, SimplifiedNetworkTrainsAndReadsBack) {
  const KnownFiles f = WriteKnownFiles();
  const std::string smaller = TempPath("smaller.wgt");
  const Outcome simplify =
      RunCommand(ToolSimplify, {f.network, "--ranges", f.ranges, "--data", f.csv, "-o", smaller});
  ASSERT_EQ(simplify.status, 0) << simplify.err;
  EXPECT_NE(simplify.out.find("Accuracy    100.00%  100.00%"), std::string::npos) << simplify.out;

  const std::string prefix = TempPath("known");
  ASSERT_EQ(
      RunCommand(ToolImport, {f.csv, "-o", prefix, "--epochs", "20", "--change-after", "5"}).status,
      0);
  std::string param = programtest::Slurp(prefix + ".param");
  param.replace(param.find(prefix + "-initial.wgt"), prefix.size() + 12, smaller);
  std::ofstream(prefix + ".param") << param;
  const programtest::RunResult train = programtest::RunProgram("'" + prefix + ".param'");
  ASSERT_EQ(train.status, 0) << train.err << train.out;
  for (const std::string &file : {smaller, prefix + "-trained.wgt"}) {
    const Outcome rules = RunCommand(ToolRules, {file, "--ranges", f.ranges, "--data", f.csv});
    EXPECT_EQ(rules.status, 0) << rules.err;
  }
}

} // namespace
