// Broken inputs through the built programs: each one must end the run with
// status 1 and a short report, quickly, without touching the files already in
// the run's directory and without leaving a new one behind.

#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kExample = std::string(KESTRANE_SOURCE_DIR) + "/examples/iris/";
const char *const kPrevious = "previous contents\n";

using testsupport::Put;
using testsupport::Slurp;

// A directory of its own holding the example's files and, in place of every
// output a run may write, an older file that a failed run must keep.
std::string ExampleDir() {
  std::string pattern = testing::TempDir() + "kestrane_bad_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    return std::string();
  for (const auto &entry : fs::directory_iterator(kExample))
    if (entry.is_regular_file())
      fs::copy_file(entry.path(), fs::path(pattern) / entry.path().filename());
  for (const char *name : {"iris-trained.wgt", "out.wgt", "out.dat", "new-A.dat", "new.param"})
    Put(pattern + "/" + name, kPrevious);
  fs::create_directory(pattern + "/adir");
  return pattern;
}

// Names the entries that differ between two snapshots.
std::string Changes(const std::map<std::string, std::string> &before,
                    const std::map<std::string, std::string> &after) {
  std::string changes;
  for (const auto &entry : after) {
    const auto old = before.find(entry.first);
    if (old == before.end())
      changes += " new " + entry.first;
    else if (old->second != entry.second)
      changes += " changed " + entry.first;
  }
  for (const auto &entry : before)
    if (after.count(entry.first) == 0)
      changes += " removed " + entry.first;
  return changes;
}

// Every file and directory below `dir` with its bytes.
std::map<std::string, std::string> Snapshot(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = entry.path().lexically_relative(dir).string();
    files[name] = entry.is_directory() ? "<directory>" : Slurp(entry.path().string());
  }
  return files;
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
  double seconds;
};

// Runs a shell command line in `dir`; its output goes outside the directory.
Outcome Shell(const std::string &dir, const std::string &command) {
  const std::string out = dir + ".out";
  const std::string err = dir + ".err";
  const std::string line =
      "cd '" + dir + "' && " + command + " >'" + out + "' 2>'" + err + "' </dev/null";
  const auto start = std::chrono::steady_clock::now();
  const int raw = std::system(line.c_str());
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  Outcome outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err), spent.count()};
  fs::remove(out);
  fs::remove(err);
  return outcome;
}

int Lines(const std::string &text) {
  int lines = 0;
  for (char c : text)
    lines += c == '\n';
  return lines;
}

// One line on either stream, or the three lines of an argument error
// (message, category, operation) on standard error.
bool ShortReport(const Outcome &o) {
  const bool oneLine = Lines(o.out) + Lines(o.err) == 1 && (o.out + o.err).back() == '\n' &&
                       (o.out + o.err).size() > 1;
  const bool argumentError = o.out.empty() && Lines(o.err) == 3 && o.err.back() == '\n' &&
                             (o.err.find("\nBad Parameter\n") != std::string::npos ||
                              o.err.find("\nNull Pointer Parameter\n") != std::string::npos);
  return oneLine || argumentError;
}

// Text no run may print, whatever went wrong.
const char *const kForbidden[] = {"Assertion failed", "runtime error:", "Sanitizer",
                                  "terminate called", "Segmentation",   "Aborted"};

// ---- preparations of the directory

using Prepare = std::function<void(const std::string &dir)>;

Prepare Edit(const std::string &file, const std::string &from, const std::string &to) {
  return [=](const std::string &dir) {
    std::string text = Slurp(dir + "/" + file);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " not in " << file;
    Put(dir + "/" + file, text.replace(at, from.size(), to));
  };
}

Prepare Cut(const std::string &file, size_t bytes) {
  return [=](const std::string &dir) {
    const std::string text = Slurp(dir + "/" + file);
    ASSERT_LT(bytes, text.size());
    Put(dir + "/" + file, text.substr(0, bytes));
  };
}

// Bytes of every value, NUL and brackets included; the same on every run.
std::string Garbage(size_t bytes) {
  std::string text;
  unsigned state = 12345;
  for (size_t i = 0; i < bytes; ++i) {
    state = state * 1103515245u + 12345u;
    text += static_cast<char>(state >> 16);
  }
  return text;
}

Prepare Write(const std::string &file, const std::string &text) {
  return [=](const std::string &dir) { Put(dir + "/" + file, text); };
}

Prepare Nothing() {
  return [](const std::string &) {};
}

// ---- the cases

enum class Program { Driver, Tool };

struct BadInput {
  std::string name;
  Program program;
  std::string args;
  Prepare prepare;
  std::string expected; // a part of the report; empty: any short report
};

std::ostream &operator<<(std::ostream &out, const BadInput &c) { return out << c.name; }

BadInput Run(const std::string &name, Prepare prepare, const std::string &expected = "") {
  return {name, Program::Driver, "iris.param", std::move(prepare), expected};
}

BadInput Tool(const std::string &name, const std::string &args, Prepare prepare,
              const std::string &expected = "") {
  return {name, Program::Tool, args, std::move(prepare), expected};
}

const std::string kNet = "iris-initial.wgt";
const std::string kData = "iris-setosa.dat";
const std::string kCsvHead = "a,b,kind\n";
const std::string kCsvGood = kCsvHead + "1,2,A\n3,4,B\n1,3,A\n3,5,B\n";

std::vector<BadInput> Cases() {
  std::vector<BadInput> cases;
  // The network file cut short at points in the header, the layers and the weights.
  for (size_t bytes : {10, 100, 500, 2000, 5000, 9000})
    cases.push_back(Run("NetworkCutAt" + std::to_string(bytes), Cut(kNet, bytes)));
  // A class file cut in its header, at [Data] and among the rows.
  for (size_t bytes : {10, 60, 150, 300, 3000})
    cases.push_back(Run("DataCutAt" + std::to_string(bytes), Cut(kData, bytes)));
  cases.push_back(Run("LastClassCut", Cut("iris-virginica.dat", 2000)));

  cases.push_back(Run("NetworkWrongKeyword", Edit(kNet, "NeuralNetwork", "NeuralNetwerk"),
                      "[NEURALNETWORK] expected"));
  cases.push_back(
      Run("NetworkUnknownType", Edit(kNet, "= Vemo", "= Bogus"), "Unknown network type"));
  cases.push_back(Run("NetworkUnknownActivation", Edit(kNet, "=sigmoid", "=nosuch"),
                      "Unknown activation function"));
  cases.push_back(Run("NetworkGarbage", Write(kNet, Garbage(4000))));
  cases.push_back(Run("NetworkEmpty", Write(kNet, "")));
  cases.push_back(Run("NetworkHugeLayerCount",
                      Edit(kNet, "NumberOfLayers = 6", "NumberOfLayers = 999999999"),
                      "exceeds the limit of 100"));
  cases.push_back(
      Run("NetworkNegativeLayerCount", Edit(kNet, "NumberOfLayers = 6", "NumberOfLayers = -6")));
  cases.push_back(Run("NetworkHugeLayer",
                      Edit(kNet, "NumberOfNeurons = 12", "NumberOfNeurons = 2147483647"),
                      "exceeds the limit of 1000000"));
  cases.push_back(Run("NetworkNegativeLayer",
                      Edit(kNet, "NumberOfNeurons = 12", "NumberOfNeurons = -12"), "negative"));
  cases.push_back(Run("NetworkArcOutside", Edit(kNet, "From=0 To=0 ", "From=2147483647 To=0 "),
                      "lies outside"));
  cases.push_back(
      Run("NetworkHugeMembershipCount", Edit(kNet, "Input=0 MF=3", "Input=0 MF=2147483647")));

  cases.push_back(
      Run("DataWrongKeyword", Edit(kData, "[DataSet]", "[DataSat]"), "[DATASET] expected"));
  cases.push_back(Run("DataGarbage", Write(kData, Garbage(3000))));
  cases.push_back(Run(
      "DataHugeRows",
      [](const std::string &dir) {
        Edit(kData, "Rows = 35", "Rows = 2147483647")(dir);
        Edit(kData, "Inputs = 4", "Inputs = 1000")(dir);
      },
      "Data set"));
  cases.push_back(Run("DataHugeOutputs",
                      Edit(kData, "ExpectedOutputs = 3", "ExpectedOutputs = 2147483647"),
                      "numbers per row"));
  cases.push_back(Run("DataNegativeRows", Edit(kData, "Rows = 35", "Rows = -1")));
  cases.push_back(Run("DataOneRowShort", Edit(kData, "Rows = 35", "Rows = 36")));
  cases.push_back(Run("DataNotANumber", Edit(kData, "0.5 ", "abc "), "number-expected"));

  // Numbers that would train to NaN and report it as a result.
  // (A nan input is a missing value, which trains; a nan expected output is not.)
  cases.push_back(
      Run("DataNotFinite", Edit(kData, "   1 0 0", "   nan 0 0"), "output column 1 is nan"));
  cases.push_back(Run("DataInfinite", Edit(kData, "0.5 ", "-inf "), "is -inf"));
  cases.push_back(
      Run("NetworkNotFinite", Edit(kNet, "0.223502304147465 T", "nan T"), "not finite"));
  // A NUL byte is no part of any text file the programs read.
  const std::string nul("[FormatVersion = 1.0]\0\n", 23);
  cases.push_back(Run("NetworkNul", Write(kNet, nul), "NUL byte"));
  cases.push_back(Run("DataNul", Write(kData, nul), "NUL byte"));
  cases.push_back(Run("ParametersNul", Write("iris.param", "WeightFile = x" + nul), "NUL byte"));
  cases.push_back(
      Tool("ImportNul", "import bad.csv -o iris", Write("bad.csv", kCsvHead + nul), "NUL byte"));
  cases.push_back(Tool("RangesNul", "eval " + kNet + " iris-test.dat --ranges bad.ranges",
                       Write("bad.ranges", "kestrane-ranges 1\n" + nul), "NUL byte"));

  cases.push_back(
      Run("MissingNetwork", Edit("iris.param", kNet, "none.wgt"), "Error on File Open"));
  cases.push_back(
      Run("MissingData", Edit("iris.param", kData, "none.dat"), "Unable to open file none.dat"));
  cases.push_back({"MissingParameterFile", Program::Driver, "none.param", Nothing(),
                   "Unable to open file none.param"});
  cases.push_back(
      {"ParameterFileIsADirectory", Program::Driver, "adir", Nothing(), "Unable to open file"});
  cases.push_back({"TwoArguments", Program::Driver, "iris.param iris.param", Nothing(), "Usage:"});
  cases.push_back(Run("DestinationInMissingDirectory",
                      Edit("iris.param", "iris-trained.wgt", "none/trained.wgt"),
                      "Unable to write file"));
  cases.push_back(Run("DestinationIsADirectory", Edit("iris.param", "iris-trained.wgt", "adir"),
                      "Unable to write file adir"));

  cases.push_back(Run("ParametersWithoutWeightFile", Edit("iris.param", "WeightFile", "WaitFile"),
                      "No weight file specified"));
  cases.push_back(Run("ParametersEpochsNotANumber",
                      Edit("iris.param", "Epochs = 2000", "Epochs = x"),
                      "Value of Epochs is not an integer"));
  cases.push_back(Run("ParametersNegativeClasses",
                      Edit("iris.param", "#DataClasses = 3", "#DataClasses = -3"),
                      "Number of classes"));
  cases.push_back(Run("ParametersHugeClasses",
                      Edit("iris.param", "#DataClasses = 3", "#DataClasses = 2147483647"),
                      "Fewer"));
  cases.push_back(Run("ParametersGarbage", Write("iris.param", Garbage(2000))));
  cases.push_back(Run("ParametersLongName", Edit("iris.param", kNet, std::string(300, 'w')),
                      "longer than 255"));
  cases.push_back(
      Run("ParametersTooManyFeatures",
          Edit("iris.param", "Seed = 7", "Seed = 7 #Features = 9 Features = 0 1 2 3 4 5 6 7 8"),
          "More features"));
  cases.push_back(Run("MoreExamplesThanRows", Edit("iris.param", "Examples = 35", "Examples = 99"),
                      "Insufficient rows: data file iris-setosa.dat has 35 rows, 99 examples per "
                      "draw asked of it; ask at most 35, or draw with replacement\n"));

  cases.push_back(Tool("ToolUnknownCommand", "frobnicate", Nothing(), "unknown command"));
  cases.push_back(Tool("CreateWithoutInputs", "create --rules 2 --outputs 2 -o out.wgt", Nothing(),
                       "--inputs is required"));
  cases.push_back(Tool("CreateHugeInputs",
                       "create --inputs 2147483647 --rules 2 --outputs 2 -o out.wgt", Nothing(),
                       "--inputs must be"));
  cases.push_back(Tool("CreateNegativeRules", "create --inputs 2 --rules -3 --outputs 2 -o out.wgt",
                       Nothing(), "--rules must be"));
  cases.push_back(Tool("CreateTooLarge",
                       "create --inputs 100000 --rules 100000 --outputs 1 -o out.wgt", Nothing(),
                       "network too large"));
  // Within every per-count cap, but more neurons than a network file may hold.
  cases.push_back(Tool("CreateTooManyNeurons",
                       "create --inputs 100000 --input-mfs 99 --rules 1 --outputs 1 -o out.wgt",
                       Nothing(), "more than 1000000 neurons"));
  cases.push_back(Tool("CreateWrongMembershipList",
                       "create --inputs 2 --input-mfs 2,3,4 --rules 2 --outputs 2 -o out.wgt",
                       Nothing(), "3 numbers given"));
  cases.push_back(Tool("CreateInMissingDirectory",
                       "create --inputs 2 --rules 2 --outputs 2 -o none/out.wgt", Nothing(),
                       "cannot write none/out.wgt"));
  cases.push_back(Tool("CreateOverADirectory", "create --inputs 2 --rules 2 --outputs 2 -o adir",
                       Nothing(), "is a directory"));
  cases.push_back(Tool("EvalWithoutData", "eval " + kNet, Nothing(), "eval takes"));
  cases.push_back(
      Tool("EvalCutNetwork", "eval " + kNet + " iris-test.dat", Cut(kNet, 500), kNet + ":"));
  cases.push_back(Tool("EvalMissingData", "eval " + kNet + " none.dat", Nothing(),
                       "Unable to open file none.dat"));
  cases.push_back(Tool("EvalCutData", "eval " + kNet + " iris-test.dat", Cut("iris-test.dat", 400),
                       "iris-test.dat:"));
  cases.push_back(Tool("EvalCsvAsData", "eval " + kNet + " iris.csv", Nothing(), "iris.csv:"));
  cases.push_back(Tool("EvalOutputIsADirectory", "eval " + kNet + " iris-test.dat -o adir",
                       Nothing(), "cannot write adir"));
  cases.push_back(Tool("EvalOutputInMissingDirectory",
                       "eval " + kNet + " iris-test.dat -o none/out.dat", Nothing(),
                       "cannot write"));
  cases.push_back(Tool("EvalBadRanges", "eval " + kNet + " iris-test.dat --ranges iris.csv",
                       Nothing(), "not a ranges file"));
  // Every import writes over the example's own files (prefix "iris") or over new-A.dat and
  // new.param.
  cases.push_back(Tool("ImportEmptyCsv", "import bad.csv -o iris", Write("bad.csv", ""), "empty"));
  cases.push_back(Tool("ImportHeaderOnly", "import bad.csv -o iris", Write("bad.csv", kCsvHead),
                       "no data rows"));
  cases.push_back(Tool("ImportRaggedRow", "import bad.csv -o iris",
                       Write("bad.csv", kCsvHead + "1,2\n"), "2 fields"));
  cases.push_back(Tool("ImportNotANumber", "import bad.csv -o iris",
                       Write("bad.csv", kCsvHead + "1,x,A\n2,3,B\n"), "is not a number"));
  cases.push_back(Tool("ImportUnclosedQuote", "import bad.csv -o iris",
                       Write("bad.csv", kCsvHead + "\"1,2,A\n3,4,B\n"), "not closed"));
  cases.push_back(Tool("ImportOneClass", "import bad.csv -o iris",
                       Write("bad.csv", kCsvHead + "1,2,A\n3,4,A\n"), "one class"));
  cases.push_back(Tool("ImportHugeNumber", "import bad.csv -o iris",
                       Write("bad.csv", kCsvGood + "1e999,1,A\n"), "is not a number"));
  cases.push_back(Tool("ImportGarbage", "import bad.csv -o iris", Write("bad.csv", Garbage(5000))));
  cases.push_back(Tool("ImportMissingCsv", "import none.csv -o iris", Nothing(),
                       "Unable to open file none.csv"));
  cases.push_back(Tool("ImportUnknownClassColumn", "import iris.csv --class nosuch -o iris",
                       Nothing(), "no column"));
  cases.push_back(Tool("ImportBadEpochs", "import good.csv --epochs 0 -o new",
                       Write("good.csv", kCsvGood), "--epochs must be"));
  cases.push_back(Tool("ImportInMissingDirectory", "import good.csv -o none/new",
                       Write("good.csv", kCsvGood), "-o: the folder none does not exist"));
  cases.push_back(Tool(
      "ImportOverADirectory", "import good.csv -o new",
      [](const std::string &dir) {
        Put(dir + "/good.csv", kCsvGood);
        fs::create_directory(dir + "/new-B.dat");
      },
      "cannot write new-B.dat: it is a directory"));
  // What a ranges file cannot hold, and names Kestrane cannot read back.
  cases.push_back(Tool("ImportDuplicateHeader", "import bad.csv -o iris",
                       Write("bad.csv", "a,a,kind\n1,2,A\n3,4,B\n1,3,A\n3,5,B\n"),
                       "column name \"a\" appears more than once"));
  cases.push_back(Tool("ImportTabInClass", "import bad.csv -o iris",
                       Write("bad.csv", kCsvGood + "1,2,\"A\tB\"\n2,2,\"A\tB\"\n"),
                       "tab or a line break"));
  cases.push_back(Tool("ImportLongPrefix", "import good.csv -o " + std::string(246, 'p'),
                       Write("good.csv", kCsvGood), "more than a parameter file takes"));
  cases.push_back(Tool("ImportBadRanges", "import iris.csv --ranges iris.csv -o new", Nothing(),
                       "not a ranges file"));
  // A prefix is no folder: the files would land in it or beside it under names nobody chose.
  cases.push_back(Tool("ImportIntoAFolder", "import good.csv -o adir/", Write("good.csv", kCsvGood),
                       "-o: adir/ is a folder; give a prefix for the files' names, such as "
                       "adir/good"));
  cases.push_back(Tool("ImportOntoAFolderName", "import good.csv -o adir",
                       Write("good.csv", kCsvGood), "-o: adir is a folder"));
  // A million features and a class: more than a data-set row holds, refused
  // at the header (the rows are never read).
  cases.push_back(Tool(
      "ImportMoreColumnsThanADataSetRowHolds", "import wide.csv -o iris",
      [](const std::string &dir) {
        std::string csv;
        for (int c = 0; c < 1000000; ++c)
          csv += std::to_string(c) + ",";
        Put(dir + "/wide.csv", csv + "kind\n0,A\n0,B\n");
      },
      "1000000 features and at least 2 classes, more than the 1000000 columns"));
  // Ranges files: a name twice would feed one column to two inputs; a line
  // or a stream without end is cut off.
  cases.push_back(Tool("RangesFeatureTwice", "predict " + kNet + " iris.csv --ranges iris.ranges",
                       Edit("iris.ranges", "\tsepal_width", "\tsepal_length"),
                       "line 5: two features are named \"sepal_length\""));
  cases.push_back(Tool("RangesClassTwice", "rules " + kNet + " --ranges iris.ranges",
                       Edit("iris.ranges", "output\tversicolor", "output\tsetosa"),
                       "two classes are named \"setosa\""));
  cases.push_back(Tool("RangesEndlessLine", "eval " + kNet + " iris-test.dat --ranges bad.ranges",
                       Write("bad.ranges", "kestrane-ranges 1\n" + std::string(70000, 'x')),
                       "longer than 65536 bytes"));
  // The journal of an import killed while it replaced its files: the set may
  // be half old and half new until the next import of it finishes it.
  const std::string journal = "kestrane-journal 1\nredo\n";
  cases.push_back(Run("ParametersOfAnInterruptedImport", Write("iris.journal", journal),
                      "iris.param: iris.journal shows that this set of files is being replaced"));
  cases.push_back(Tool("RangesOfAnInterruptedImport",
                       "predict " + kNet + " iris.csv --ranges iris.ranges",
                       Write("iris.journal", journal), "iris.journal shows"));
  // A bad record after thousands of answered rows: the file kept, nothing
  // printed, and the fault reported as when the whole file was read first
  // (a ragged row anywhere before a bad cell, a bad cell before the -o file).
  const std::string kIrisHead = "sepal_length,sepal_width,petal_length,petal_width,species\n";
  std::string answered = kIrisHead;
  for (int i = 0; i < 3000; ++i)
    answered += "5.1,3.5,1.4,0.2,setosa\n";
  const std::string badCell = answered + "5.1,x,1.4,0.2,setosa\n4.9,3.0,1.4,0.2,setosa\n";
  const std::string predict = "predict " + kNet + " bad.csv --ranges iris.ranges";
  const std::string notANumber = "line 3002: \"x\" in column \"sepal_width\" is not a number";
  cases.push_back(
      Tool("PredictBadRowToAFile", predict + " -o out.dat", Write("bad.csv", badCell), notANumber));
  cases.push_back(Tool("PredictBadRowToStdout", predict, Write("bad.csv", badCell), notANumber));
  cases.push_back(Tool("PredictBadRowToADirectory", predict + " -o adir", Write("bad.csv", badCell),
                       notANumber));
  cases.push_back(Tool("PredictRaggedRowAfterABadRow", predict + " -o out.dat",
                       Write("bad.csv", badCell + "5.1,3.5\n"),
                       "line 3004: 2 fields, but the header has 5"));
  cases.push_back(Tool("CvRaggedRowAfterABadRow", "cv bad.csv",
                       Write("bad.csv", badCell + "5.1,3.5\n"),
                       "line 3004: 2 fields, but the header has 5"));

  // A training that runs away, and settings no fit should start from (the
  // driver only warns of those: a parameter file runs as it always has).
  cases.push_back(Tool("CvDiverged", "cv iris.csv --momentum 1.1 --epochs 300", Nothing(),
                       "Training diverged: the error is "));
  cases.push_back(Tool("CvNegativeRate", "cv iris.csv --learning-rate -1", Nothing(),
                       "--learning-rate: -1 is negative"));
  cases.push_back(Tool("CreateWeightRangeWiderThanADouble",
                       "create --inputs 4 --rules 6 --outputs 3 --weights -1e308,1e308 -o out.wgt",
                       Nothing(), "--weights: -1e+308,1e+308: the width overflows"));
  cases.push_back(Tool("SimplifyNotFiniteNetwork",
                       "simplify " + kNet + " --ranges iris.ranges --data iris.csv -o out.wgt",
                       Edit(kNet, "0.223502304147465 T", "nan T"), "not finite numbers"));
  // Combinations x folds past 2^31 once wrapped or aborted.
  std::string counts = "1";
  for (int k = 2; k <= 1000; ++k)
    counts += "," + std::to_string(k);
  std::string manyRows = kCsvHead;
  for (int r = 0; r < 3000; ++r)
    manyRows += std::to_string(r % 7) + "," + std::to_string(r % 5) + (r % 2 ? ",A\n" : ",B\n");
  cases.push_back(Tool("CvTrainingsPastTheLimit",
                       "cv many.csv --rules " + counts + " --epochs " + counts + " --folds 3000",
                       Write("many.csv", manyRows), "more than 1000000 trainings"));
  // A field quoted in a message is a bounded excerpt with its control
  // characters escaped: the report stays one short line.
  cases.push_back(Tool("ImportHugeFieldWithLineBreaks", "import bad.csv -o iris",
                       Write("bad.csv", kCsvHead + "1,\"\n\x1b[31m" + std::string(100000, 'x') +
                                            "\n\n\",A\n2,3,B\n"),
                       "line 2: \"\\n\\x1b[31m" + std::string(54, 'x') +
                           "\xe2\x80\xa6\" in column \"b\" is not a number"));
  cases.push_back(Tool("RangesHugeUnknownLine",
                       "eval " + kNet + " iris-test.dat --ranges bad.ranges",
                       Write("bad.ranges", "kestrane-ranges 1\n" + std::string(60000, 'z') + "\n"),
                       "unknown line \"zzz"));
  return cases;
}

class BadInputTest : public testing::TestWithParam<BadInput> {};

TEST_P(BadInputTest, FailsAtOnceWithAShortReportAndWritesNothing) {
  const BadInput &c = GetParam();
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  c.prepare(dir);
  const auto before = Snapshot(dir);
  const std::string program = c.program == Program::Driver ? KESTRANE_BINARY : KESTRANE_TOOL_BINARY;
  // The time limit turns a hang into a failure instead of a stuck suite.
  const Outcome o = Shell(dir, "timeout 20 '" + program + "' " + c.args);

  EXPECT_EQ(o.status, 1) << o.out << o.err;
  EXPECT_TRUE(ShortReport(o)) << "stdout:\n" << o.out << "stderr:\n" << o.err;
  if (!c.expected.empty()) {
    EXPECT_NE((o.out + o.err).find(c.expected), std::string::npos) << o.out << o.err;
  }
  for (const char *text : kForbidden)
    EXPECT_EQ((o.out + o.err).find(text), std::string::npos) << o.out << o.err;
  // Whatever the input holds, it is not echoed whole.
  EXPECT_LT((o.out + o.err).size(), 1000u);
  EXPECT_LT(o.seconds, 5.0);
  EXPECT_EQ(Changes(before, Snapshot(dir)), "");
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Programs, BadInputTest, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<BadInput> &info) {
                           return info.param.name;
                         });

#if defined(__SANITIZE_ADDRESS__)
#define KESTRANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRANE_ASAN 1
#endif
#endif

// A network within every size limit that still needs far more memory than the
// process may take: both programs report it on one line.
TEST(OutOfMemoryTest, BothProgramsReportItOnOneLine) {
#ifdef KESTRANE_ASAN
  GTEST_SKIP() << "the address sanitizer's shadow memory does not fit under ulimit -v";
#else
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  // Layer 3 is a plain layer: 900,000 neurons pass the limit of 1,000,000.
  Edit(kNet, "[Layer = 3]\n[LayerType = Simple]\n[NumberOfNeurons = 12]",
       "[Layer = 3]\n[LayerType = Simple]\n[NumberOfNeurons = 900000]")(dir);
  const auto before = Snapshot(dir);
  // The programs start in under 40 MB; the network needs about 150 MB.
  const std::string limit = "ulimit -v 100000 && timeout 20 ";
  const Outcome run = Shell(dir, limit + "'" + KESTRANE_BINARY + "' iris.param");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "out of memory\n");
  const Outcome eval =
      Shell(dir, limit + "'" + KESTRANE_TOOL_BINARY + "' eval " + kNet + " iris-test.dat");
  EXPECT_EQ(eval.status, 1);
  EXPECT_EQ(eval.out, "");
  EXPECT_EQ(eval.err, "out of memory\n");
  EXPECT_EQ(Changes(before, Snapshot(dir)), "");
  fs::remove_all(dir);
#endif
}

// ---- saves under faults: every writer goes through one safe save

std::string Tool(const std::string &args) {
  return "'" + std::string(KESTRANE_TOOL_BINARY) + "' " + args;
}
std::string Driver(const std::string &args) {
  return "'" + std::string(KESTRANE_BINARY) + "' " + args;
}

mode_t TypeOf(const std::string &path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_mode & S_IFMT;
}

// Runs that must succeed: `kCreate` writes a network, the rest of the
// commands each write one kind of output. {} stands for the output's name.
const char *const kCreate = "create --inputs 4 --rules 6 --outputs 3 -o {}";

std::string WithOutput(const std::string &command, const std::string &output) {
  std::string line = command;
  line.replace(line.find("{}"), 2, output);
  return line;
}

TEST(SaveTargetsTest, DevicesFifosSymlinksAndModesSurviveEveryProgramsSave) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  const std::string driverRun =
      "(sed -e 's/Epochs = 2000/Epochs = 20/' -e 's|iris-trained.wgt|{}|' "
      "iris.param >short.param && " +
      Driver("short.param") + ")";
  const std::vector<std::string> writers = {
      Tool(kCreate), Tool("eval " + kNet + " iris-test.dat -o {}"), driverRun};
  // A private node of the null device: a save must write to it, not replace it.
  const bool haveNode = mknod((dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  for (const std::string &writer : writers) {
    SCOPED_TRACE(writer);
    if (haveNode) {
      EXPECT_EQ(Shell(dir, WithOutput(writer, "null")).status, 0);
      EXPECT_EQ(TypeOf(dir + "/null"), S_IFCHR);
    }
    // A FIFO: the reader gets the whole output.
    const Outcome piped =
        Shell(dir, "(cat fifo >piped & " + WithOutput(writer, "fifo") + " && wait)");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(TypeOf(dir + "/fifo"), S_IFIFO);
    EXPECT_NE(Slurp(dir + "/piped").find("[~"), std::string::npos);
    // A symlink to a file of mode 600: the link stays, the file keeps its mode.
    Put(dir + "/private", "old");
    chmod((dir + "/private").c_str(), 0600);
    fs::remove(dir + "/link");
    fs::create_symlink("private", dir + "/link");
    EXPECT_EQ(Shell(dir, WithOutput(writer, "link")).status, 0);
    EXPECT_EQ(TypeOf(dir + "/link"), S_IFLNK);
    struct stat st {};
    stat((dir + "/private").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_NE(Slurp(dir + "/private"), "old");
  }
  // The driver's temporary file needs no room beyond the destination's name:
  // a destination name of 250 characters, within the parameter file's limit, saves.
  const std::string longName(250, 'd');
  EXPECT_EQ(Shell(dir, WithOutput(driverRun, longName)).status, 0);
  EXPECT_TRUE(fs::exists(dir + "/" + longName));
  for (const auto &entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  fs::remove_all(dir);
}

TEST(SaveTargetsTest, AFileSizeLimitIsOneLineAndLeavesNoTemporaryFile) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  const auto before = Snapshot(dir);
  // 8 KB: the outputs are larger; the programs' reports are not.
  const std::string limit = "ulimit -f 8 && ";
  for (const std::string &command :
       {Tool(WithOutput(kCreate, "out.wgt")), Tool("eval " + kNet + " iris-test.dat -o out.dat"),
        Tool("import iris.csv -o new"), Driver("iris.param")}) {
    SCOPED_TRACE(command);
    const Outcome o = Shell(dir, limit + command);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(Lines(o.err), 1) << o.err;
    EXPECT_NE(o.err.find("File too large"), std::string::npos) << o.err;
    EXPECT_EQ(Changes(before, Snapshot(dir)), "");
  }
  fs::remove_all(dir);
}

TEST(SaveTargetsTest, AnEndlessDeviceOfNulBytesIsRefusedAtOnce) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  if (mknod((dir + "/zero").c_str(), S_IFCHR | 0444, makedev(1, 5)) != 0)
    GTEST_SKIP() << "no mknod";
  for (const std::string &command :
       {Tool("eval zero iris-test.dat"), Tool("eval " + kNet + " zero"),
        Tool("eval " + kNet + " iris-test.dat --ranges zero"), Tool("import zero -o new"),
        Driver("zero")}) {
    SCOPED_TRACE(command);
    const Outcome o = Shell(dir, "timeout 20 " + command);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("NUL byte"), std::string::npos) << o.err;
    EXPECT_LT(o.seconds, 5.0);
  }
  fs::remove_all(dir);
}

TEST(SaveTargetsTest, ConcurrentEvalsToOneFileLeaveOneCompleteResult) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  ASSERT_EQ(Shell(dir, "(" + Tool("eval " + kNet + " iris-test.dat -o a.dat") + " && " +
                           Tool("eval " + kNet + " iris-setosa.dat -o b.dat") + ")")
                .status,
            0);
  const std::string a = Slurp(dir + "/a.dat");
  const std::string b = Slurp(dir + "/b.dat");
  for (int pair = 0; pair < 5; ++pair) {
    Shell(dir, "(" + Tool("eval " + kNet + " iris-test.dat -o same.dat") + " & " +
                   Tool("eval " + kNet + " iris-setosa.dat -o same.dat") + "; wait)");
    const std::string result = Slurp(dir + "/same.dat");
    EXPECT_TRUE(result == a || result == b) << result.size() << " bytes";
  }
  for (const auto &entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  fs::remove_all(dir);
}

// A data-set file may come through a FIFO or a pipe, which cannot tell its
// length; a ranges stream without end is cut off at the file's limits.
TEST(PipesTest, DataSetFilesComeThroughFifosAndPipesAndEndlessRangesAreCutOff) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  ASSERT_EQ(mkfifo((dir + "/data.fifo").c_str(), 0600), 0);
  const Outcome file = Shell(dir, Tool("eval " + kNet + " iris-test.dat"));
  ASSERT_EQ(file.status, 0) << file.err;
  for (const std::string &command :
       {"(cat iris-test.dat >data.fifo & " + Tool("eval " + kNet + " data.fifo") + ")",
        "(cat iris-test.dat | " + Tool("eval " + kNet + " /dev/stdin") + ")"}) {
    const Outcome piped = Shell(dir, command);
    EXPECT_EQ(piped.status, 0) << command << piped.err;
    EXPECT_EQ(piped.out, file.out) << command;
  }
  // The driver trains on a class read from the FIFO as on the file.
  Edit("iris.param", "Epochs = 2000", "Epochs = 20")(dir);
  const Outcome run = Shell(dir, Driver("iris.param"));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string trained = Slurp(dir + "/iris-trained.wgt");
  Edit("iris.param", "DataFile = " + kData, "DataFile = data.fifo")(dir);
  const Outcome fromFifo =
      Shell(dir, "(cat " + kData + " >data.fifo & " + Driver("iris.param") + ")");
  EXPECT_EQ(fromFifo.status, 0) << fromFifo.err;
  EXPECT_EQ(fromFifo.out, run.out);
  EXPECT_EQ(Slurp(dir + "/iris-trained.wgt"), trained);

  const Outcome endless =
      Shell(dir, "(awk 'BEGIN { print \"kestrane-ranges 1\"; for (;;) print \"output\\tc\" i++ }' "
                 ">data.fifo & timeout 20 " +
                     Tool("predict " + kNet + " iris.csv --ranges data.fifo") + ")");
  EXPECT_EQ(endless.status, 1);
  EXPECT_EQ(endless.err, "ranges file, line 1000002: more than 1000000 features and classes\n");
  EXPECT_LT(endless.seconds, 10.0);
  fs::remove_all(dir);
}

// An import of many classes killed at its first rename: the next reader is
// told, and the next import makes the set whole (all from one import) before
// it writes its own.
TEST(SaveTargetsTest, AnImportKilledDuringItsRenamesLeavesOneWholeSet) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  for (int version = 0; version < 2; ++version) {
    std::string csv = "x,y,kind\n";
    for (int k = 0; k < 100; ++k)
      for (int row = 0; row < 2; ++row)
        csv += std::to_string((k * 7 + row + version * 3) % 11) + "," +
               std::to_string(row + version * 5) + ",c" + std::to_string(k) + "\n";
    Put(dir + "/v" + std::to_string(version) + ".csv", csv);
    ASSERT_EQ(Shell(dir, Tool("import v" + std::to_string(version) + ".csv -o V" +
                              std::to_string(version)))
                  .status,
              0);
  }
  // Whether every file of P is that of V0, or every file that of V1.
  const auto version = [&](const std::string &prefix) {
    std::set<int> seen;
    for (int k = 0; k < 100; ++k)
      for (int v = 0; v < 2; ++v)
        if (Slurp(dir + "/" + prefix + "-c" + std::to_string(k) + ".dat") ==
            Slurp(dir + "/V" + std::to_string(v) + "-c" + std::to_string(k) + ".dat"))
          seen.insert(v);
    for (int v = 0; v < 2; ++v)
      if (Slurp(dir + "/" + prefix + ".ranges") ==
          Slurp(dir + "/V" + std::to_string(v) + ".ranges"))
        seen.insert(v);
    return seen.size() == 1 ? *seen.begin() : -1;
  };
  ASSERT_EQ(Shell(dir, Tool("import v0.csv -o P")).status, 0);
  struct stat before {};
  stat((dir + "/P-c0.dat").c_str(), &before);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.c_str()) == 0 && freopen("/dev/null", "w", stdout))
      execl(KESTRANE_TOOL_BINARY, KESTRANE_TOOL_BINARY, "import", "v1.csv", "-o", "P",
            static_cast<char *>(nullptr));
    _exit(127);
  }
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    struct stat now {};
    if ((stat((dir + "/P-c0.dat").c_str(), &now) == 0 && now.st_ino != before.st_ino) ||
        waitpid(child, nullptr, WNOHANG) == child ||
        std::chrono::steady_clock::now() - start > std::chrono::seconds(30))
      break;
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  if (fs::exists(dir + "/P.journal")) {
    const Outcome refused = Shell(dir, Tool("predict " + kNet + " iris.csv --ranges P.ranges"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("P.journal shows"), std::string::npos) << refused.err;
    // The import's first step makes the set whole; its CSV fails later.
    EXPECT_EQ(Shell(dir, Tool("import none.csv -o P")).status, 1);
  }
  EXPECT_NE(version("P"), -1);
  for (const auto &entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.find(".tmp") == std::string::npos && name != "P.journal") << name;
  }
  fs::remove_all(dir);
}

// Standard output carries the results: a write there that fails is a failed
// run (one line, status 1), for every command, --help and --version included.
// The driver keeps its destination; a closed descriptor is never reused for
// a file the program opens.
TEST(StandardOutputTest, AWriteThatFailsIsOneLineAndStatusOne) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  const std::string shortRun = "sed 's/Epochs = 2000/Epochs = 20/' iris.param >short.param && ";
  const struct {
    std::string command, target, reason;
  } cases[] = {
      {Tool("--help"), ">/dev/full", "No space left on device"},
      {Tool("cv --help"), ">&-", "Bad file descriptor"},
      {Driver("--version"), ">/dev/full", "No space left on device"},
      {Tool("eval " + kNet + " iris-test.dat"), ">&-", "Bad file descriptor"},
      {Tool("rules " + kNet + " --ranges iris.ranges"), ">/dev/full", "No space left on device"},
      // The table waits in a spool; a size limit cuts its copy short.
      {"ulimit -f 4 && " + Tool("predict " + kNet + " iris.csv --ranges iris.ranges"), ">table",
       "File too large"},
      {shortRun + Driver("short.param"), ">/dev/full", "No space left on device"},
      {shortRun + Driver("short.param"), ">&-", "Bad file descriptor"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.command + " " + c.target);
    const std::string line = "cd '" + dir + "' && (" + c.command + ") " + c.target + " 2>err";
    const int raw = std::system(line.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
    // Warnings about the network may come first.
    const std::string err = std::regex_replace(Slurp(dir + "/err"), std::regex("!Warning.*\n"), "");
    EXPECT_EQ(err, "cannot write to standard output: " + c.reason + "\n");
    EXPECT_EQ(Slurp(dir + "/iris-trained.wgt"), kPrevious);
  }
  fs::remove_all(dir);
}

// What a network reader has to say about a bad file reaches the tool's
// standard error, never its results; the driver prints the unknown word on
// standard output as it always has.
TEST(StandardOutputTest, AnUnknownWordInAnArcListLeavesTheToolsStandardOutputEmpty) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  Edit(kNet, "From=0 To=0 ", "From=0 To=0 Bogus ")(dir);
  const std::string report = "Unknown keyword in weights list\n";
  const struct {
    std::string command, out, err;
  } cases[] = {
      {Tool("predict " + kNet + " iris.csv --ranges iris.ranges"), "",
       "Bogus\n" + kNet + ": " + report},
      {Tool("eval " + kNet + " iris-test.dat"), "", "Bogus\n" + kNet + ": " + report},
      {Tool("rules " + kNet + " --ranges iris.ranges"), "", "Bogus\n" + kNet + ": " + report},
      {Driver("iris.param"), "Bogus\n", report},
  };
  for (const auto &c : cases) {
    const Outcome o = Shell(dir, c.command);
    EXPECT_EQ(o.status, 1) << c.command;
    EXPECT_EQ(o.out, c.out) << c.command;
    EXPECT_EQ(o.err, c.err) << c.command;
  }
  fs::remove_all(dir);
}

// cv trains its folds on threads: killing it ends all of its work, and
// nothing is left holding the caller's pipe.
TEST(ProcessesTest, AKilledCvLeavesNothingHoldingItsPipe) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  const Outcome o =
      Shell(dir, "(((" + Tool("cv iris.csv --epochs 20000 --jobs 2") +
                     " & echo $! >pid) | cat >/dev/null; touch ended) & "
                     "while [ ! -s pid ]; do sleep 0.1; done; sleep 0.5; kill -TERM $(cat pid); "
                     "for i in $(seq 50); do [ -e ended ] && exit 0; sleep 0.1; done; exit 1)");
  EXPECT_EQ(o.status, 0) << o.err;
  fs::remove_all(dir);
}

TEST(NumbersTest, ADivergedRunFailsAndANonFiniteNetworkIsFlagged) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  Edit("iris.param", "Momentum = 0.5", "Momentum = 1.1")(dir);
  Edit("iris.param", "Epochs = 2000", "Epochs = 200")(dir);
  const Outcome run = Shell(dir, Driver("iris.param"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.find("!Warning: Momentum 1.1 is outside [0, 1)"), 0u) << run.err;
  EXPECT_NE(run.err.find("\nTraining diverged: "), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(dir + "/iris-trained.wgt"), kPrevious);

  Edit("iris.param", "LearningRate = 0.1", "LearningRate = -0.1")(dir);
  EXPECT_NE(Shell(dir, Driver("iris.param")).err.find("!Warning: LearningRate -0.1 is negative"),
            std::string::npos);

  Edit(kNet, "0.223502304147465 T", "nan T")(dir);
  const Outcome eval = Shell(dir, Tool("eval " + kNet + " iris-test.dat"));
  EXPECT_EQ(eval.status, 0);
  EXPECT_NE(eval.err.find("!Warning: " + kNet + " holds 1 weights"), std::string::npos) << eval.err;
  fs::remove_all(dir);
}

// Output centres outside [0, 1] read fine and fail at the first recall. The
// driver prints the value on standard output as it always has; the tool keeps
// standard output for its results and puts the value before its report.
TEST(NumbersTest, OutputCentresOutsideTheUnitIntervalLeaveTheToolsStandardOutputEmpty) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  const std::string text = Slurp(dir + "/" + kNet);
  const size_t centres = text.find("ToOutputConnections");
  ASSERT_NE(centres, std::string::npos);
  Put(dir + "/" + kNet,
      text.substr(0, centres) +
          std::regex_replace(text.substr(centres), std::regex("Weight=[0-9.]+"), "Weight=7.0"));
  const std::string report =
      "Defuzzified output outside [0, 1]\nBad Parameter\nTVemoOutputLayer::Propagate\n";
  const struct {
    std::string command, out, err;
  } cases[] = {
      {Tool("predict " + kNet + " iris.csv --ranges iris.ranges"), "", "7\n" + report},
      {Tool("eval " + kNet + " iris-test.dat"), "", "7\n" + report},
      {Driver("iris.param"), "7\n", report},
  };
  for (const auto &c : cases) {
    const Outcome o = Shell(dir, c.command);
    EXPECT_EQ(o.status, 1) << c.command;
    EXPECT_EQ(o.out, c.out) << c.command;
    EXPECT_EQ(o.err, c.err) << c.command;
  }
  EXPECT_EQ(Slurp(dir + "/iris-trained.wgt"), kPrevious);
  fs::remove_all(dir);
}

TEST(ImportTest, ExtremeColumnsScaleToFiniteValuesAndWideTablesGetAnHonestNextStep) {
  const std::string dir = ExampleDir();
  ASSERT_FALSE(dir.empty());
  Put(dir + "/span.csv", "x,kind\n-1e308,A\n1e308,B\n0,A\n5,B\n");
  const Outcome span = Shell(dir, Tool("import span.csv -o span"));
  EXPECT_EQ(span.status, 0) << span.err;
  const std::string table = Slurp(dir + "/span-A.dat") + Slurp(dir + "/span-B.dat");
  EXPECT_EQ(table.find("nan"), std::string::npos) << table;
  EXPECT_NE(table.find("\n0.5 "), std::string::npos) << table;
  EXPECT_EQ(Shell(dir, Tool("import span.csv --ranges span.ranges -o again")).status, 0);

  std::string wide;
  for (int c = 0; c < 10000; ++c)
    wide += "c" + std::to_string(c) + ",";
  wide += "kind\n";
  for (const char *kind : {"A", "B", "A", "B"}) {
    for (int c = 0; c < 10000; ++c)
      wide += std::to_string(c % 7) + ",";
    wide += std::string(kind) + "\n";
  }
  Put(dir + "/wide.csv", wide);
  const Outcome o = Shell(dir, Tool("import wide.csv -o wide"));
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.find("Next:"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("No create command fits 10000 features"), std::string::npos) << o.out;
  fs::remove_all(dir);
}

} // namespace
