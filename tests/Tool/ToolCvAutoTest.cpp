#include "Boot/Model.h"
#include "Tool/ToolCommon.h"
#include "Tool/ToolCv.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

struct AutoRun {
  int status;
  std::string out;
  std::string err;
};

AutoRun CvAuto(std::vector<std::string> args) {
  args.insert(args.begin(),
              {std::string(KESTRANE_SOURCE_DIR) + "/examples/iris/iris.csv", "--auto"});
  std::ostringstream out;
  std::ostringstream err;
  const int status = kestrane::RunGuarded([&] { return kestrane::ToolCv(args, out, err); }, err);
  return {status, out.str(), err.str()};
}

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The report less its one line of wall times.
std::string Untimed(const std::string &report) {
  const size_t at = report.find("Searched ");
  return report.substr(0, report.find(" in ", at)) + report.substr(report.find('\n', at));
}

TEST(ToolCvAuto, SearchesWithinTheBudgetAndWritesTheRefit) {
  const testsupport::ScratchDir dir("kestrane_cvauto_");
  const std::string prefix = dir.Path() + "/iris";

  // However fast the machine, a millisecond holds the first entry only.
  const AutoRun cut = CvAuto({"--time-budget", "0.001", "-o", prefix + "-cut"});
  ASSERT_EQ(cut.status, 0) << cut.err;
  EXPECT_NE(cut.out.find("Searched 1 of 12 combinations"), std::string::npos) << cut.out;
  EXPECT_NE(cut.out.find("--combinations 1 repeats"), std::string::npos) << cut.out;

  // A fixed count gives the same report and files on one thread and two.
  std::string reports[2], networks[2];
  for (int jobs = 1; jobs <= 2; ++jobs) {
    const std::string name = prefix + "-three";
    const AutoRun r = CvAuto({"--combinations", "3", "--jobs", std::to_string(jobs), "-o", name});
    ASSERT_EQ(r.status, 0) << r.err;
    reports[jobs - 1] = Untimed(r.out);
    networks[jobs - 1] = Slurp(name + ".wgt");
    EXPECT_EQ(kestrane::Model::Load(name).Classes().size(), 3u);
  }
  EXPECT_NE(reports[0].find("Searched 3 of 12 combinations\n"), std::string::npos) << reports[0];
  EXPECT_EQ(reports[0].find("time budget left"), std::string::npos);
  EXPECT_NE(reports[0].find("Best: rules "), std::string::npos);
  EXPECT_EQ(reports[0], reports[1]);
  EXPECT_FALSE(networks[0].empty());
  EXPECT_EQ(networks[0], networks[1]);
}

TEST(ToolCvAuto, RefusesWhatItWouldChooseItself) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--rules", "4"}, "cv --auto chooses --rules itself"},
      {{"--sampling", "balanced"}, "cv --auto chooses --sampling itself"},
      {{"--time-budget", "-1"}, "--time-budget: -1 is not a count of seconds"},
      {{"--combinations", "0"}, "--combinations"},
  };
  for (const auto &[args, message] : cases) {
    const AutoRun r = CvAuto(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

} // namespace
