// import --scaling robust and create --centres quantile: one extreme row is
// clipped and counted, the centres follow import's class files, and rules
// reads the network so made.

#include "FileHandler/ParseTools.h"
#include "Tool/ToolCommon.h"
#include "Tool/ToolCreate.h"
#include "Tool/ToolCv.h"
#include "Tool/ToolImport.h"
#include "Tool/ToolRules.h"
#include "Vemo/TVemo.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Command = int (*)(const std::vector<std::string> &, std::ostream &, std::ostream &);

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunTool(Command command, const std::vector<std::string> &args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = kestrane::RunGuarded([&] { return command(args, out, err); }, err);
  return {status, out.str(), err.str()};
}

// Two classes apart on "size"; "skew" crowds near its low end, and one row
// of it is 1000 times too large.
std::string Csv() {
  std::string text = "size,skew,kind\n";
  for (int i = 0; i < 40; ++i) {
    const int k = i % 2;
    const double skew = i == 5 ? 90000.0 : (i % 10) * (i % 10);
    text += std::to_string(k * 10 + i % 7) + "," + std::to_string(skew) + "," +
            (k ? "big" : "small") + "\n";
  }
  return text;
}

TEST(ToolDataPlacementTest, RobustImportThenQuantileCentresThenRules) {
  const testsupport::ScratchDir dir("kestrane_placement_");
  const std::string csv = dir.File("d.csv");
  testsupport::Put(csv, Csv());
  const std::string prefix = dir.File("d");
  const Outcome imported =
      RunTool(kestrane::ToolImport, {csv, "--class", "kind", "--scaling", "robust", "-o", prefix});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_NE(imported.err.find("!Warning: 1 training value outside the robust ranges of their "
                              "columns was clipped to [0, 1]"),
            std::string::npos)
      << imported.err;
  EXPECT_EQ(testsupport::Slurp(prefix + ".ranges").find("90000"), std::string::npos);

  const std::string network = dir.File("n.wgt");
  const Outcome created =
      RunTool(kestrane::ToolCreate,
              {"--inputs", "2", "--rules", "3", "--outputs", "2", "--centres", "quantile", "--data",
               prefix + "-big.dat," + prefix + "-small.dat", "-o", network});
  ASSERT_EQ(created.status, 0) << created.err;
  // The skewed input's middle function sits low, no longer at 0.5.
  std::ifstream in(network);
  std::unique_ptr<kestrane::TBasicNetwork> read = kestrane::FileTools().ReadNetwork(in);
  auto *fuzzy = dynamic_cast<kestrane::TVemo *>(read.get());
  ASSERT_NE(fuzzy, nullptr);
  const std::vector<double> centres = fuzzy->GetWeightLayer(kestrane::TVemo::kConditionCentres);
  ASSERT_EQ(centres.size(), 6u);
  EXPECT_GT(centres[4], 0.0);
  EXPECT_LT(centres[4], 0.3);

  const Outcome rules = RunTool(kestrane::ToolRules, {network, "--ranges", prefix + ".ranges"});
  EXPECT_EQ(rules.status, 0) << rules.err;
}

TEST(ToolDataPlacementTest, RefusedCombinations) {
  const struct {
    Command command;
    std::vector<std::string> args;
    const char *error;
  } cases[] = {
      {kestrane::ToolCreate,
       {"--inputs", "1", "--rules", "1", "--outputs", "2", "--centres", "quantile", "-o", "n.wgt"},
       "--centres quantile and --data go together (the rows place the centres)\n"},
      {kestrane::ToolCreate,
       {"--inputs", "1", "--rules", "1", "--outputs", "2", "--centres", "median", "-o", "n.wgt"},
       "--centres: \"median\" is neither even nor quantile\n"},
      {kestrane::ToolImport,
       {"x.csv", "--scaling", "clip"},
       "--scaling: \"clip\" is neither minmax nor robust\n"},
      {kestrane::ToolCv,
       {"x.csv", "--early-stopping", "1"},
       "--early-stopping: the validation share must lie between 0 and 1\n"},
  };
  for (const auto &c : cases) {
    const Outcome o = RunTool(c.command, c.args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, c.error);
  }
}

} // namespace
