#include "Boot/KestraneApp.h"
#include "Boot/Version.h"

#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace programtest;

TEST(KestraneProgramTest, UsageLine) {
  for (const char *arguments : {"", "a b", "a b c"}) {
    const RunResult r = RunProgram(arguments);
    EXPECT_EQ(r.status, 1) << arguments;
    EXPECT_EQ(r.err, "Usage: Kestrane parameter.file\n") << arguments;
    EXPECT_EQ(r.out, "") << arguments;
  }
}

// --help, -h and --version alone answer on standard output; with anything
// else beside them it is the usage error as before.
TEST(KestraneProgramTest, HelpAndVersion) {
  const std::string help =
      "Usage: Kestrane parameter.file\n"
      "Trains a fuzzy network as the parameter file says. The keys are in the\n"
      "table under \"Parameter file\" in README.md.\n";
  const struct {
    const char *arguments;
    int status;
    std::string out;
  } cases[] = {
      {"--help", 0, help},
      {"-h", 0, help},
      {"--version", 0, std::string("Kestrane ") + kestrane::kVersion + "\n"},
      {"--help x", 1, ""},
  };
  for (const auto &c : cases) {
    const RunResult r = RunProgram(c.arguments);
    EXPECT_EQ(r.status, c.status) << c.arguments;
    EXPECT_EQ(r.out, c.out) << c.arguments;
    EXPECT_EQ(r.err, c.status == 0 ? "" : "Usage: Kestrane parameter.file\n") << c.arguments;
  }
}

TEST(KestraneProgramTest, UnreadableParameterFile) {
  const RunResult r = RunProgram("/nonexistent/params.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to open file /nonexistent/params.txt\n");
  const RunResult dir = RunProgram("/");
  EXPECT_EQ(dir.status, 1);
  EXPECT_EQ(dir.err, "Unable to open file /\n");
}

TEST(KestraneProgramTest, ValidationMessagesEndTheRun) {
  struct Case {
    const char *text;
    const char *err;
  };
  const std::vector<Case> cases = {
      {"", "No weight file specified\n"},
      {"WeightFile = w", "Number of classes not specified or invalid\n"},
      {"WeightFile = w #DataClasses = 1", "Number of epochs not specified or invalid\n"},
      {"WeightFile = w #DataClasses = 1 Epochs = 1", "Change After not specified or invalid\n"},
      {"WeightFile = w #DataClasses = 1 Epochs = 1 ChangeAfter = 1 Examples = x",
       "Value of Examples is not an integer\n"},
  };
  for (const Case &c : cases) {
    const std::string path = WriteFile("kestrane_params.txt", c.text);
    const RunResult r = RunProgram("'" + path + "'");
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.err, c.err) << c.text;
    std::remove(path.c_str());
  }
}

// Past validation the run loads the network; a missing one is a file error,
// reported on standard error like every other.
TEST(KestraneMainTest, ValidFilePassesValidation) {
  const std::string path =
      WriteFile("kestrane_valid.txt", "WeightFile = w.wgt #DataClasses = 1 DataFile = d.dat "
                                      "Examples = 5 Epochs = 2 ChangeAfter = 1");
  std::string program = "Kestrane";
  std::vector<char *> argv = {&program[0], const_cast<char *>(path.c_str())};
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(kestrane::KestraneMain(2, argv.data()), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error on File Open: w.wgt (the WeightFile; kestrane-tool create makes a network)\n");
  std::remove(path.c_str());
}

} // namespace
