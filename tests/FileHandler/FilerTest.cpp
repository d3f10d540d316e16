#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "tests/Support/TableChecks.h"
#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

namespace {

using kestrane::Data;
using kestrane::DataSetCounts;
using kestrane::FileTools;
using kestrane::TLabelList;
using testsupport::ExpectSameRows;
using testsupport::Slurp;

std::string TempPath(const std::string &name) {
  const auto *info = testing::UnitTest::GetInstance()->current_test_info();
  return testing::TempDir() + "kestrane_filer_" + std::to_string(getpid()) + "_" + info->name() +
         "_" + name;
}

std::string WriteFile(const std::string &name, const std::string &text) {
  const std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

bool Exists(const std::string &path) { return std::ifstream(path).good(); }

// A data-set file with the given header lines and data block.
std::string DataSetText(const std::string &header, const std::string &rows) {
  return "[FormatVersion = 1.0]\n\n[DataSet]\n" + header + "\n[Data]\n" + rows +
         "[~Data]\n\n[~DataSet]\n";
}

TEST(FilerTest, WritesTheTwoRowExampleByteForByte) {
  Data table(2, 2, 1, false);
  const double in0[2] = {0.5, 1.25}, out0[1] = {1};
  const double in1[2] = {0, -3}, out1[1] = {0};
  table.AppendRow(in0, out0);
  table.AppendRow(in1, out1);
  const std::string path = TempPath("example.dat");
  FileTools tools;
  ASSERT_EQ(tools.SaveDataSet(path.c_str(), &table, nullptr), 0);
  EXPECT_EQ(Slurp(path), "[FormatVersion = 1.0]\n"
                         "\n"
                         "[DataSet]\n"
                         "[Rows = 2]\n"
                         "[Inputs = 2]\n"
                         "[ExpectedOutputs = 1]\n"
                         "[GeneratedOutputs = 0]\n"
                         "[Error = 0]\n"
                         "\n"
                         "[Data]\n"
                         "0.5 1.25   1 \n"
                         "0 -3   0 \n"
                         "[~Data]\n"
                         "\n"
                         "[~DataSet]\n");
  EXPECT_FALSE(Exists(path + ".saving"));
  std::remove(path.c_str());
}

TEST(FilerTest, LoadBuildsTablesTheHeaderDescribes) {
  const std::string path = WriteFile(
      "shape.dat", DataSetText("[Rows = 3] [Inputs = 4] [ExpectedOutputs = 2]",
                               "1 2 3 4 5 6\n7,8,9,10 11 /* comment */ 12\n13 14 15 16 17 1e-3\n"));
  FileTools tools;
  std::unique_ptr<Data> first, second;
  ASSERT_EQ(tools.LoadDataSet(path.c_str(), first, second), 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(first->MbrNdxRows, 3);
  EXPECT_EQ(first->MbrNdxDataRows, 3);
  EXPECT_EQ(first->MbrNdxInputs, 4);
  EXPECT_EQ(first->MbrNdxOutputs, 2);
  EXPECT_EQ(first->GetInputDatum(1, 3), 10.0);
  EXPECT_EQ(first->GetOutputDatum(1, 1), 12.0);
  EXPECT_EQ(first->GetOutputDatum(2, 1), 0.001);
  std::remove(path.c_str());
}

TEST(FilerTest, HeaderOrderingRules) {
  struct Case {
    const char *header;
    int32_t code;
    DataSetCounts counts;
  };
  const std::vector<Case> cases = {
      {"[Rows = 3] [Inputs = 4] [ExpectedOutputs = 2] [Data]", 0, {3, 4, 2, 0, 0}},
      {"[Inputs = 1] [Rows = 5] [Error = 2] [Data]", 0, {5, 1, 0, 0, 2}},
      {"[ExpectedOutputs = labels] [GeneratedOutputs = LABELS] [Rows = 1] [Data]",
       0,
       {1, 0, -1, -1, 0}},
      {"[Rows = 3] [ExpectedOutputs = 2] [Inputs = 4] [Data]", -82, {3, 0, 2, 0, 0}},
      {"[Inputs = 1] [Inputs = 1] [Data]", -82, {-1, 1, 0, 0, 0}},
      {"[Colour = 1] [Data]", -82, {-1, 0, 0, 0, 0}},
      {"[Rows = 3 Inputs = 2] [Data]", -82, {-1, 0, 0, 0, 0}},
      {"[Data]", 0, {-1, 0, 0, 0, 0}},
  };
  FileTools tools;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.header);
    std::istringstream in(c.header);
    DataSetCounts counts;
    kestrane::Statement ended;
    EXPECT_EQ(tools.ReadDataSetHeader(in, counts, ended), c.code);
    EXPECT_EQ(counts.rows, c.counts.rows);
    EXPECT_EQ(counts.inputs, c.counts.inputs);
    EXPECT_EQ(counts.expectedOutputs, c.counts.expectedOutputs);
    EXPECT_EQ(counts.generatedOutputs, c.counts.generatedOutputs);
    EXPECT_EQ(counts.errors, c.counts.errors);
    if (c.code == 0) {
      EXPECT_EQ(ended.keyword.value_or(""), "Data");
    }
  }
}

TEST(FilerTest, MalformedFilesRaiseClearErrors) {
  struct Case {
    const char *name;
    std::string text;
    const char *message;
  };
  const std::vector<Case> cases = {
      {"not a data set", "[NeuralNetwork]\n", "[DATASET] expected"},
      {"header out of order",
       DataSetText("[Rows = 3] [ExpectedOutputs = 2] [Inputs = 4]", "1 2 3\n"), "[DATA] expected"},
      {"labels in inputs", DataSetText("[Rows = 1] [Inputs = Labels]", ""), "No labels in inputs"},
      {"labels in errors", DataSetText("[Rows = 1] [Error = Labels]", ""), "No labels in inputs"},
      {"labels in rows", DataSetText("[Rows = Labels]", ""), "No labels in inputs"},
      {"count not integer", DataSetText("[Rows = many]", ""), "integer-expected"},
      {"no rows", DataSetText("[Inputs = 1]", "1\n"), "Data set header without [Rows = <integer>]"},
      {"negative rows", DataSetText("[Rows = -2] [Inputs = 1]", ""),
       "Negative Rows in data set header"},
      {"one number too few", DataSetText("[Rows = 2] [Inputs = 2]", "1 2\n3\n"),
       "Token (number) expected"},
      {"one number too many", DataSetText("[Rows = 1] [Inputs = 2]", "1 2 3\n"),
       "End Tag expected"},
      {"not a number", DataSetText("[Rows = 1] [Inputs = 2]", "1 x\n"), "number-expected"},
      {"bracket missing",
       DataSetText("[Rows = 1] [Inputs = 1] [ExpectedOutputs = Labels]", "1 cat\n"),
       "Label bracket expected: a row's labels must begin with '['"},
      {"bad label item",
       DataSetText("[Rows = 1] [Inputs = 1] [ExpectedOutputs = Labels]", "1 [=5]\n"),
       "Bad label item, a word or name=number expected (Unexpected special character)"},
      {"label value not a number",
       DataSetText("[Rows = 1] [Inputs = 1] [ExpectedOutputs = Labels]", "1 [cat=x]\n"),
       "Bad label item, a word or name=number expected (number-expected)"},
      {"text after the end", DataSetText("[Rows = 0]", "") + "[More]\n", "End Tag expected"},
      {"file ends in data", "[DataSet] [Rows = 1] [Inputs = 2] [Data] 1 ",
       "Unexpected end of file"},
  };
  FileTools tools;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile("bad.dat", c.text);
    std::unique_ptr<Data> first = std::make_unique<Data>(1, 1, 1, false), second;
    try {
      tools.LoadDataSet(path.c_str(), first, second);
      ADD_FAILURE() << "no error";
    } catch (const FileTools::Error &e) {
      EXPECT_EQ(e.GetMessage(), c.message);
    }
    EXPECT_EQ(first, nullptr); // nothing half-built is handed out
    EXPECT_EQ(second, nullptr);
    std::remove(path.c_str());
  }
}

TEST(FilerTest, ResultCodesOfLoading) {
  FileTools tools;
  std::unique_ptr<Data> first, second;
  EXPECT_EQ(tools.LoadDataSet(TempPath("missing.dat").c_str(), first, second), -81);
  EXPECT_EQ(tools.LoadTrainingSet(TempPath("missing.dat").c_str(), first), -81);
  EXPECT_EQ(tools.LoadDataSet(testing::TempDir().c_str(), first, second), -81);

  const std::string twoTables =
      WriteFile("two.dat", DataSetText("[Rows = 1] [Inputs = 1] [Error = 1]", "0.5 0.25\n"));
  ASSERT_EQ(tools.LoadDataSet(twoTables.c_str(), first, second), 0);
  EXPECT_EQ(second->MbrNdxOutputs, 1);
  EXPECT_EQ(second->GetOutputDatum(0, 0), 0.25);
  std::unique_ptr<Data> table;
  EXPECT_EQ(tools.LoadTrainingSet(twoTables.c_str(), table), -82);
  EXPECT_EQ(table->GetInputDatum(0, 0), 0.5); // the first table is still handed out

  const std::string noColumns = WriteFile("none.dat", DataSetText("[Rows = 2]", ""));
  EXPECT_EQ(tools.LoadTrainingSet(noColumns.c_str(), table), -82);
  EXPECT_EQ(table, nullptr);
  std::remove(twoTables.c_str());
  std::remove(noColumns.c_str());
}

TEST(FilerTest, LabelBrackets) {
  FileTools tools;
  std::istringstream in(" /* x */ [cat cat dog=0.5] [] [ /* c */ ] [solo]");
  auto labels = tools.ReadLabels(in);
  ASSERT_EQ(labels->GetCount(), 2);
  EXPECT_EQ(labels->GetLabel(0).name, "cat");
  EXPECT_EQ(labels->GetLabel(0).value, 2.0);
  EXPECT_EQ(labels->GetLabel(1).value, 0.5);
  EXPECT_EQ(tools.ReadLabels(in)->GetCount(), 0);
  EXPECT_EQ(tools.ReadLabels(in)->GetCount(), 0);
  EXPECT_EQ(tools.ReadLabels(in)->GetLabel(0).name, "solo");
  EXPECT_THROW(tools.ReadLabels(in), FileTools::Error); // end of input

  std::ostringstream out;
  TLabelList list("cat", 1.0);
  list.Append("dog", 0.5);
  tools.WriteLabels(out, list);
  tools.WriteLabels(out, TLabelList());
  EXPECT_EQ(out.str(), "[cat dog=0.500000000 ] [] ");
  EXPECT_THROW(tools.WriteLabels(out, TLabelList("two words", 1.0)), FileTools::Error);
}

// A row's label names are indexed while the bracket is read: 50000 labels in
// one bracket read in linear time, repeated names still adding up.
TEST(FilerTest, ManyLabelsInOneBracketReadQuickly) {
  std::string text = "[";
  for (int i = 0; i < 50000; ++i)
    text += "l" + std::to_string(i) + " ";
  text += "l7=0.5 l49999 ]";
  FileTools tools;
  std::istringstream in(text);
  const auto labels = tools.ReadLabels(in);
  ASSERT_EQ(labels->GetCount(), 50000);
  EXPECT_EQ(labels->GetLabel(7).value, 1.5);
  EXPECT_EQ(labels->GetLabel(49999).name, "l49999");
  EXPECT_EQ(labels->GetLabel(49999).value, 2.0);
}

TEST(FilerTest, RoundTrips) {
  auto labelled = [](int32_t slots, int32_t rows, int32_t inputs, int32_t outputs) {
    auto table = std::make_unique<Data>(slots, inputs, outputs, outputs == 0);
    for (int32_t r = 0; r < rows; ++r) {
      std::vector<double> in(static_cast<size_t>(inputs) + 1),
          out(static_cast<size_t>(outputs) + 1);
      for (int32_t c = 0; c < inputs; ++c)
        in[c] = 0.1 * r - c / 3.0;
      for (int32_t c = 0; c < outputs; ++c)
        out[c] = 1e-17 * (r + 1) + c;
      TLabelList labels(("class" + std::to_string(r % 2)).c_str(), 1.0);
      if (r == 1)
        labels.Append("weight", 0.25);
      table->AppendRow(in.data(), out.data(), &labels);
    }
    return table;
  };
  struct Case {
    const char *name;
    std::unique_ptr<Data> first, second;
  };
  std::vector<Case> cases;
  cases.push_back({"numbers", labelled(4, 4, 3, 2), nullptr});
  cases.push_back({"partly filled", labelled(5, 3, 2, 1), nullptr});
  cases.push_back({"labels", labelled(3, 3, 2, 0), nullptr});
  cases.push_back({"second table", labelled(3, 3, 2, 1), labelled(3, 3, 1, 2)});
  cases.push_back({"first labelled, second numbers", labelled(3, 3, 2, 0), labelled(3, 3, 2, 1)});
  cases.push_back({"both labelled", labelled(2, 2, 1, 0), labelled(2, 2, 0, 1)});
  cases.push_back({"second only, labelled", nullptr, labelled(2, 2, 0, 3)});
  FileTools tools;
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = TempPath("round.dat");
    ASSERT_EQ(tools.SaveDataSet(path.c_str(), c.first.get(), c.second.get()), 0);
    std::unique_ptr<Data> first, second;
    ASSERT_EQ(tools.LoadDataSet(path.c_str(), first, second), 0);
    ASSERT_EQ(first != nullptr, c.first != nullptr);
    ASSERT_EQ(second != nullptr, c.second != nullptr);
    if (first)
      ExpectSameRows(*first, *c.first);
    if (second)
      ExpectSameRows(*second, *c.second);
    // Saving what was read gives the same bytes.
    const std::string again = TempPath("again.dat");
    ASSERT_EQ(tools.SaveDataSet(again.c_str(), first.get(), second.get()), 0);
    EXPECT_EQ(Slurp(again), Slurp(path));
    std::remove(path.c_str());
    std::remove(again.c_str());
  }
}

TEST(FilerTest, SavingWritesEverySlot) {
  Data table(5, 1, 1, false);
  const double one[1] = {1};
  for (int i = 0; i < 3; ++i)
    table.AppendRow(one, one);
  const std::string path = TempPath("slots.dat");
  FileTools tools;
  ASSERT_EQ(tools.SaveDataSet(path.c_str(), &table, nullptr), 0);
  const std::string text = Slurp(path);
  EXPECT_NE(text.find("[Rows = 5]"), std::string::npos);
  EXPECT_NE(text.find("[Data]\n1   1 \n1   1 \n1   1 \n0   0 \n0   0 \n[~Data]"),
            std::string::npos);
  std::remove(path.c_str());
}

TEST(FilerTest, InconsistentTablesGiveMinus83) {
  FileTools tools;
  const std::string path = TempPath("never.dat");
  Data three(3, 1, 1, false), four(4, 1, 1, false), labelsAndOutputs(3, 1, 1, true);
  Data badName(1, 1, 0, true);
  const double x[1] = {0};
  TLabelList spaced("two words", 1.0);
  badName.AppendRow(x, nullptr, &spaced);
  EXPECT_EQ(tools.SaveDataSet(path.c_str(), nullptr, nullptr), -83);
  EXPECT_EQ(tools.SaveDataSet(path.c_str(), &three, &four), -83);
  EXPECT_EQ(tools.SaveDataSet(path.c_str(), &labelsAndOutputs, nullptr), -83);
  EXPECT_EQ(tools.SaveDataSet(path.c_str(), nullptr, &labelsAndOutputs), -83);
  EXPECT_EQ(tools.SaveDataSet(path.c_str(), &badName, nullptr), -83);
  EXPECT_EQ(tools.WriteDataSetHeader(path.c_str(), 1, 1, 0, 0, -1), -83);
  // More numbers in a row than the readers take.
  Data wide(1, 999999, 2, false);
  EXPECT_EQ(tools.SaveDataSet(path.c_str(), &wide, nullptr), -83);
  EXPECT_EQ(tools.WriteDataSetHeader(path.c_str(), 999999, 1, 1, 0, 1), -83);
  std::ostringstream out;
  try {
    tools.WriteDataSet(out, &wide, nullptr);
    ADD_FAILURE() << "written";
  } catch (const FileTools::Error &e) {
    EXPECT_EQ(e.GetMessage(),
              "Data set too large for its readers: 1000001 numbers per row, more than 1000000");
  }
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(Exists(path));
}

TEST(FilerTest, FailedSavesReportMinus81AndKeepThePreviousFile) {
  FileTools tools;
  Data table(2, 1, 1, false);
  const std::string inMissingDirectory = TempPath("no/such/dir.dat");
  EXPECT_EQ(tools.SaveDataSet(inMissingDirectory.c_str(), &table, nullptr), -81);
  EXPECT_EQ(tools.WriteDataSetHeader(inMissingDirectory.c_str(), 1, 1, 0, 0, 2), -81);
  EXPECT_EQ(tools.WriteDataSetRows(inMissingDirectory.c_str(), &table, nullptr), -81);
  EXPECT_EQ(tools.WriteDataSetTrailer(inMissingDirectory.c_str()), -81);
  if (Exists("/dev/full")) {
    EXPECT_EQ(tools.WriteDataSetHeader("/dev/full", 1, 1, 0, 0, 2), -81);
    EXPECT_EQ(tools.WriteDataSetRows("/dev/full", &table, nullptr), -81);
  }

  // A save that runs out of space part-way leaves the earlier file intact.
  const std::string path = TempPath("keep.dat");
  ASSERT_EQ(tools.SaveDataSet(path.c_str(), &table, nullptr), 0);
  const std::string before = Slurp(path);
  Data big(20000, 4, 1, false);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4096;
  auto *previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t code = tools.SaveDataSet(path.c_str(), &big, nullptr);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(code, -81);
  EXPECT_EQ(Slurp(path), before);
  EXPECT_FALSE(Exists(path + ".saving"));
  std::remove(path.c_str());
}

TEST(FilerTest, ChunksReadTheSameRowsAsOneLoad) {
  Data table(10, 2, 0, true);
  for (int r = 0; r < 10; ++r) {
    const double in[2] = {r * 1.5, -r / 7.0};
    TLabelList labels(r % 3 ? "odd" : "even", r);
    table.AppendRow(in, nullptr, &labels);
  }
  const std::string path = TempPath("chunks.dat");
  FileTools tools;
  ASSERT_EQ(tools.SaveDataSet(path.c_str(), &table, nullptr), 0);
  std::unique_ptr<Data> whole, none;
  ASSERT_EQ(tools.LoadDataSet(path.c_str(), whole, none), 0);

  int64_t offset = 0;
  int32_t row = 0;
  for (int32_t size : {4, 4, 2}) {
    std::unique_ptr<Data> chunk, second;
    ASSERT_EQ(tools.LoadDataSetChunk(path.c_str(), offset, size, chunk, second), 0);
    ASSERT_EQ(chunk->MbrNdxRows, size);
    EXPECT_EQ(second, nullptr);
    for (int32_t r = 0; r < size; ++r, ++row) {
      EXPECT_EQ(chunk->GetInputDatum(r, 0), whole->GetInputDatum(row, 0));
      EXPECT_EQ(chunk->GetInputDatum(r, 1), whole->GetInputDatum(row, 1));
      EXPECT_EQ(*chunk->GetLabels(r), *whole->GetLabels(row));
    }
  }
  std::unique_ptr<Data> beyond, second;
  EXPECT_THROW(tools.LoadDataSetChunk(path.c_str(), offset, 1, beyond, second), FileTools::Error);
  std::remove(path.c_str());
}

TEST(FilerTest, ProbeFileReplies) {
  FileTools tools;
  struct Case {
    const char *name;
    std::string text;
    const char *reply;
  };
  const std::vector<Case> cases = {
      {"data", DataSetText("[Rows = 4] [Inputs = 3] [ExpectedOutputs = Labels] [Error = 1]", ""),
       "(data :rows 4 :inputs 3 :actual-outputs -1 :calc-outputs 0 :errors 1)"},
      {"bad header", DataSetText("[Error = 1] [Inputs = 3]", ""), "(error :type bad-header)"},
      {"network", "[Network]\n", "network"},
      {"other", "[NeuralNetwork]\n", "(error :type unknown-header :header NeuralNetwork)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile("probe.dat", c.text);
    EXPECT_EQ(tools.ProbeFile(path.c_str())->ToString(), c.reply);
    std::remove(path.c_str());
  }
  EXPECT_EQ(tools.ProbeFile(TempPath("missing").c_str())->ToString(),
            "(error :type file-read-error)");
}

// Run by hand in a Release build: --gtest_also_run_disabled_tests --gtest_filter='*Large*'
TEST(FilerTest, DISABLED_LoadsALargeFileQuickly) {
  const int32_t rows = 100000, columns = 30;
  Data table(rows, columns - 1, 1, false);
  std::vector<double> in(columns - 1);
  std::srand(3);
  for (int32_t r = 0; r < rows; ++r) {
    for (double &v : in)
      v = std::rand() / static_cast<double>(RAND_MAX);
    const double out[1] = {static_cast<double>(r % 2)};
    table.AppendRow(in.data(), out);
  }
  const std::string path = TempPath("large.dat");
  FileTools tools;
  ASSERT_EQ(tools.SaveDataSet(path.c_str(), &table, nullptr), 0);
  std::unique_ptr<Data> loaded;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(tools.LoadTrainingSet(path.c_str(), loaded), 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("Loaded %d x %d (%zu bytes) in %.3f s\n", rows, columns, Slurp(path).size(), seconds);
  EXPECT_EQ(loaded->MbrDyaRtpInputs, table.MbrDyaRtpInputs);
  EXPECT_LT(seconds, 1.0);
  std::remove(path.c_str());
}

} // namespace

namespace {

TEST(FilerTest, NumbersKeepFifteenDigitsUnlessMoreAreNeeded) {
  kestrane::Data table(1, 4, 0, false);
  const double in[4] = {0.1, 100000, 1.0 / 3.0, 1e-5};
  table.AppendRow(in, nullptr);
  const std::string path = TempPath("digits.dat");
  kestrane::FileTools tools;
  ASSERT_EQ(tools.SaveDataSet(path.c_str(), &table, nullptr), 0);
  EXPECT_NE(Slurp(path).find("\n0.1 100000 0.33333333333333331 1e-05   \n"), std::string::npos);
  std::remove(path.c_str());
}

} // namespace

namespace {

// What a data-set file has always held for a number: "%.15g", or "%.17g" when
// fifteen digits do not read back as the same double.
std::string PrintfText(double value) {
  char text[40];
  const int length = std::snprintf(text, sizeof text, "%.15g", value);
  double back = 0;
  const auto read = std::from_chars(text, text + length, back);
  if (read.ec == std::errc() && back != value && value == value)
    std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

} // namespace

TEST(FilerTest, NumbersAreWrittenAsPrintfWroteThem) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.1,
                                1.0 / 3,
                                2.0 / 3,
                                1e-5,
                                1e-4,
                                123456.789,
                                1e15,
                                1e16,
                                123456789012345678.0,
                                5e-324,
                                2.2250738585072014e-308,
                                1.7976931348623157e308,
                                0.30000000000000004,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(),
                                -std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 bits(5);
  for (int i = 0; i < 20000; ++i) {
    // Any bit pattern, and values in [0, 1] as the imports write them.
    uint64_t word = bits();
    double any = 0;
    std::memcpy(&any, &word, sizeof any);
    values.push_back(any);
    values.push_back(static_cast<double>(bits() >> 11) / 9007199254740992.0);
    // Decimals of 15 and 16 digits: whether fifteen digits read back.
    std::string decimal = std::to_string(1 + bits() % 9) + ".";
    for (int d = i % 2 == 0 ? 14 : 15; d > 0; --d)
      decimal += static_cast<char>('0' + bits() % 10);
    decimal += "e" + std::to_string(static_cast<int>(bits() % 601) - 300);
    values.push_back(std::strtod(decimal.c_str(), nullptr));
  }
  Data table(static_cast<int32_t>(values.size()), 1, 0, false);
  for (double value : values)
    table.AppendRow(&value, nullptr);
  std::ostringstream out;
  FileTools().WriteDataSet(out, &table, nullptr);
  std::istringstream text(out.str());
  std::string line;
  while (std::getline(text, line) && line != "[Data]") {
  }
  for (double value : values) {
    std::getline(text, line);
    ASSERT_EQ(line, PrintfText(value) + "   ");
  }
}
