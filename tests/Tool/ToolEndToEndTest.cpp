// import -> create -> train -> eval through the two programs, as a user runs them.

#include "Boot/Version.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Ran {
  int status;
  std::string out;
};

// Runs a shell command in `dir`, standard error joined to standard output.
Ran Shell(const std::string &dir, const std::string &command) {
  const std::string log = dir + "/log.txt";
  const std::string line = "cd '" + dir + "' && " + command + " >'" + log + "' 2>&1";
  const int raw = std::system(line.c_str());
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
}

const std::string kTool = std::string("'") + KESTRANE_TOOL_BINARY + "'";

TEST(ToolEndToEndTest, DispatchAndUsage) {
  const std::string dir = testing::TempDir();
  EXPECT_EQ(Shell(dir, kTool).status, 1);
  EXPECT_EQ(Shell(dir, kTool + " frobnicate").status, 1);
  const Ran help = Shell(dir, kTool + " eval --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: kestrane-tool eval", 0), 0u);
  const Ran version = Shell(dir, kTool + " --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("kestrane-tool ") + kestrane::kVersion + "\n");
}

TEST(ToolEndToEndTest, TrainedNetworkClassifiesHeldOutRows) {
  std::string pattern = testing::TempDir() + "kestrane_e2e_XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string dir = pattern;
  // Two classes apart on the first feature; the second feature is noise.
  {
    std::ofstream csv(dir + "/blobs.csv");
    csv << "a,b,kind\n";
    for (int i = 0; i < 30; ++i) {
      csv << 0.1 * (i % 10) << "," << (i * 7) % 11 << ",low\n";
      csv << 2.0 + 0.1 * (i % 10) << "," << (i * 5) % 11 << ",high\n";
    }
  }
  const Ran import =
      Shell(dir, kTool + " import blobs.csv --holdout 0.3 --seed 3 --epochs 300 -o blobs");
  ASSERT_EQ(import.status, 0) << import.out;
  ASSERT_EQ(
      Shell(dir, kTool + " create --inputs 2 --rules 6 --outputs 2 --seed 3 -o blobs-initial.wgt")
          .status,
      0);
  const Ran train = Shell(dir, std::string("'") + KESTRANE_BINARY + "' blobs.param");
  ASSERT_EQ(train.status, 0) << train.out;
  const Ran eval =
      Shell(dir, kTool + " eval blobs-trained.wgt blobs-test.dat --ranges blobs.ranges");
  ASSERT_EQ(eval.status, 0) << eval.out;
  const size_t at = eval.out.find("Accuracy: ");
  ASSERT_NE(at, std::string::npos) << eval.out;
  EXPECT_GE(std::atof(eval.out.c_str() + at + 10), 80.0) << eval.out; // chance is 50 %
  std::filesystem::remove_all(dir);
}

} // namespace
