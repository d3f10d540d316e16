#include "Boot/KestraneApp.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Slurp(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Tests run in parallel processes: every file gets a name of its own.
std::string TempPath(const std::string &name) {
  static int counter = 0;
  return testing::TempDir() + "kestrane_" + std::to_string(getpid()) + "_" +
         std::to_string(counter++) + "_" + name;
}

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Runs the built program with the given argument text (already quoted).
RunResult RunProgram(const std::string &arguments) {
  const std::string out = TempPath("out.txt");
  const std::string err = TempPath("err.txt");
  const std::string command =
      std::string("'") + KESTRANE_BINARY + "' " + arguments + " >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return result;
}

std::string WriteFile(const std::string &name, const std::string &text) {
  const std::string path = TempPath(name);
  std::ofstream(path) << text;
  return path;
}

TEST(KestraneProgramTest, UsageLine) {
  for (const char *arguments : {"", "a b", "a b c"}) {
    const RunResult r = RunProgram(arguments);
    EXPECT_EQ(r.status, 1) << arguments;
    EXPECT_EQ(r.err, "Usage: Kestrane parameter.file\n") << arguments;
    EXPECT_EQ(r.out, "") << arguments;
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

TEST(KestraneMainTest, ValidFilePassesValidation) {
  const std::string path = WriteFile(
      "kestrane_valid.txt",
      "WeightFile = w.wgt #DataClasses = 1 DataFile = d.dat Examples = 5 Epochs = 2 ChangeAfter = 1");
  std::string program = "Kestrane";
  std::vector<char *> argv = {&program[0], const_cast<char *>(path.c_str())};
  testing::internal::CaptureStderr();
  EXPECT_EQ(kestrane::KestraneMain(2, argv.data()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::remove(path.c_str());
}

} // namespace
