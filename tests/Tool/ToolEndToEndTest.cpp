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
#include <vector>

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

// A table of numbers, text, an ID and missing values in every form through
// every command: categories become 0/1 inputs, missing values stay missing.
TEST(ToolEndToEndTest, MixedAndMissingValuesGoThroughEveryCommand) {
  std::string pattern = testing::TempDir() + "kestrane_na_XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string dir = pattern;
  {
    std::ofstream csv(dir + "/gaps.csv");
    csv << "id,a,colour,b,kind\n";
    const char *const gaps[] = {"", "NA", "NaN", "?", " NA "};
    const char *const colours[] = {"red", "green", "blue"};
    for (int i = 0; i < 30; ++i) {
      const std::string b = std::to_string((i * 7) % 11);
      csv << "r" << 2 * i << ","
          << (i % 6 == 0 ? std::string(gaps[i % 5]) : std::to_string(0.1 * (i % 10))) << ","
          << colours[i % 2] << "," << b << ",low\n";
      csv << "r" << 2 * i + 1 << "," << 2.0 + 0.1 * (i % 10) << ","
          << (i % 7 == 0 ? "?" : colours[1 + i % 2]) << "," << (i % 4 == 0 ? "?" : b) << ",high\n";
    }
    csv << "x1,1,red,2,NA\nx2,3,red,4,\n";
  }
  struct Step {
    std::string command;
    int status;
    std::string shows;
  };
  const std::string tool = kTool + " ";
  const std::vector<Step> steps = {
      {"printf 'Class,v\\nA,1\\nB,1\\nA,2\\nB,2\\n' > swapped.csv && " + tool +
           "import swapped.csv -o swapped",
       0,
       "!Warning: column \"Class\" is taken as a feature: the class is the last column, "
       "\"v\", unless --class names another\n"},
      {tool + "import gaps.csv -o gaps", 0,
       "!Warning: every value of column \"id\" is different, as in an ID column, which tells "
       "nothing about new rows; leave it out with --drop id\n"},
      {tool + "import gaps.csv --drop id --epochs 200 -o gaps", 0,
       "62 rows of gaps.csv: 5 features, 2 classes (column \"kind\"), 18 missing values\n"
       "column \"colour\" taken as categories: 3 inputs \"colour=...\" (it holds text)\n"},
      {"cat gaps.ranges", 0, "category\tcolour\tblue\ncategory\tcolour\tgreen\n"},
      {tool + "import gaps.csv --drop id -o gaps", 0,
       "!Warning: 2 rows of gaps.csv have no class value and were skipped\n"},
      {tool + "import gaps.csv --drop id --na NA -o gaps-x", 1,
       "line 2: missing value in column \"a\" (--na lists"},
      {tool + "import gaps.csv --drop kind -o gaps-x", 1,
       "--drop: column \"kind\" is the class column\n"},
      {tool + "create --inputs 5 --rules 6 --outputs 2 --input-mfs 2 --seed 3 -o gaps-initial.wgt",
       0, ""},
      {std::string("'") + KESTRANE_BINARY + "' gaps.param", 0, ""},
      {"printf 'a,colour,b\\n?,red,3\\n2.5,pink,NA\\n,,\\n' > rows.csv && " + tool +
           "predict gaps-trained.wgt rows.csv --ranges gaps.ranges",
       0,
       "!Warning: 1 value is a category the import did not see, taken as missing (the first: "
       "line 3: \"pink\" in column \"colour\")\n"},
      {tool + "cv gaps.csv --drop id --folds 2 --epochs 20 --rules 4 --jobs 1", 0, "mean "},
      {tool + "rules gaps-trained.wgt --ranges gaps.ranges --data gaps.csv --nodes", 0,
       "colour is "},
      // The training rows through the parameter file; a category cut reads as the category.
      {tool + "rules gaps-trained.wgt --ranges gaps.ranges --data gaps.param", 0, "if colour is "},
      {tool + "simplify gaps-trained.wgt --ranges gaps.ranges --data gaps-low.dat,gaps-high.dat "
              "-o gaps-small.wgt",
       0, "Rows: 60 of gaps-low.dat,gaps-high.dat\n"},
      {"printf 'a,colour,b,kind\\nNA,red,3,low\\n-,blue,-,high\\n' > dash.csv && " + tool +
           "rules gaps-trained.wgt --ranges gaps.ranges --data dash.csv --na NA,-",
       0, "on the 2 rows of dash.csv"},
      {tool + "report gaps-trained.wgt --ranges gaps.ranges --data gaps.param -o gaps.html", 0,
       "Wrote gaps.html\n"},
      {tool + "simplify gaps-trained.wgt --ranges gaps.ranges --data swapped-1.dat -o gaps-x.wgt",
       1, "swapped-1.dat: 2 inputs per row, the ranges file names 5 features\n"},
      {tool + "rules gaps-trained.wgt --ranges gaps.ranges --data gaps-test.dat", 1,
       "Unable to open file gaps-test.dat\n"},
      {tool + "eval gaps-trained.wgt gaps.csv --ranges gaps.ranges", 1,
       "(eval reads data-set files: kestrane-tool import gaps.csv --ranges RANGES"},
  };
  for (const Step &step : steps) {
    const Ran ran = Shell(dir, step.command);
    EXPECT_EQ(ran.status, step.status) << step.command << "\n" << ran.out;
    EXPECT_NE(ran.out.find(step.shows), std::string::npos) << step.command << "\n" << ran.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/gaps-x.ranges"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/gaps-x.wgt"));
  const Ran predict = Shell(dir, tool + "predict gaps-trained.wgt gaps.csv --ranges gaps.ranges");
  EXPECT_EQ(predict.out.find("nan"), std::string::npos) << predict.out;
  std::filesystem::remove_all(dir);
}

} // namespace
