#include "DataTools/CsvImport/CsvImport.h"
#include "Boot/ParameterFile.h"
#include "DataTools/CsvImport/ClassSplit.h"
#include "DataTools/CsvImport/CsvReader.h"
#include "DataTools/CsvImport/RangesFile.h"
#include "DataTools/CsvImport/StarterParameters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

using kestrane::ImportError;

kestrane::CsvTable Csv(const std::string &text, char separator = ',') {
  std::istringstream in(text);
  return kestrane::ReadCsv(in, separator);
}

// The message of the ImportError that `f` raises, or "" when it raises none.
template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const ImportError &e) {
    return e.what();
  }
  return "";
}

TEST(CsvReaderTest, QuotingCrlfAndBlankLines) {
  const kestrane::CsvTable t =
      Csv("\xEF\xBB\xBF"
          "a,\"b, c\",d\r\n1,\"x,\"\"y\"\"\",3\r\n\r\n4,\"two\nlines\",6\r\n\n\n");
  ASSERT_EQ(t.header, (std::vector<std::string>{"a", "b, c", "d"}));
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.rows[0], (std::vector<std::string>{"1", "x,\"y\"", "3"}));
  EXPECT_EQ(t.rows[1], (std::vector<std::string>{"4", "two\nlines", "6"}));
  EXPECT_EQ(t.rowLines, (std::vector<int>{2, 4}));
  // No line end after the last record, another separator, an empty last field.
  const kestrane::CsvTable s = Csv("a;b\n1;", ';');
  EXPECT_EQ(s.rows.at(0), (std::vector<std::string>{"1", ""}));
}

TEST(CsvReaderTest, MalformedInputNamesTheLine) {
  EXPECT_EQ(ErrorOf([] { Csv(""); }), "the CSV file is empty (no header row)");
  EXPECT_EQ(ErrorOf([] { Csv("\n\n"); }), "the CSV file is empty (no header row)");
  EXPECT_EQ(ErrorOf([] { Csv("a,b\n1,2\n1,2,3\n"); }), "line 3: 3 fields, but the header has 2");
  EXPECT_EQ(ErrorOf([] { Csv("a,b\n1\n"); }), "line 2: 1 fields, but the header has 2");
  EXPECT_EQ(ErrorOf([] { Csv("a,b\n1,\"open\n2,3\n"); }), "line 2: quoted field is not closed");
  EXPECT_EQ(ErrorOf([] { Csv("a,b\n1,\"x\"y\n"); }),
            "line 2: unexpected text after a closing quote");
}

TEST(CsvReaderTest, FindColumnByNameOrIndex) {
  const kestrane::CsvTable t = Csv("x,2,x2\n1,2,3\n");
  EXPECT_EQ(t.FindColumn("x2"), 2);
  EXPECT_EQ(t.FindColumn("2"), 1); // a header name wins over an index
  EXPECT_EQ(t.FindColumn("0"), 0);
  EXPECT_NE(ErrorOf([&] { t.FindColumn("3"); }), "");
  EXPECT_NE(ErrorOf([&] { t.FindColumn("y"); }), "");
  EXPECT_NE(ErrorOf([] { Csv("x,x\n1,2\n").FindColumn("x"); }), "");
}

const char *const kThree = "f1,f2,kind\n"
                           "1,10,b\n"
                           "2,10,a\n"
                           "3,10,b\n"
                           "5,10,a\n"
                           "4,10,c\n"
                           "3,10,c\n";

TEST(CsvImportTest, ScalesFeaturesAndEncodesSortedClasses) {
  const kestrane::ImportResult r = kestrane::ImportCsv(Csv(kThree), {});
  EXPECT_EQ(r.ranges.classColumn, "kind");
  EXPECT_EQ(r.ranges.classes, (std::vector<std::string>{"a", "b", "c"}));
  ASSERT_EQ(r.ranges.features.size(), 2u);
  EXPECT_EQ(r.ranges.features[0].min, 1.0);
  EXPECT_EQ(r.ranges.features[0].max, 5.0);
  ASSERT_EQ(r.training.size(), 3u);
  EXPECT_FALSE(r.test);
  const kestrane::Data &a = *r.training[0]; // rows "2,10,a" and "5,10,a"
  ASSERT_EQ(a.MbrNdxDataRows, 2);
  EXPECT_DOUBLE_EQ(a.GetInputDatum(0, 0), 0.25);
  EXPECT_DOUBLE_EQ(a.GetInputDatum(1, 0), 1.0);
  EXPECT_DOUBLE_EQ(a.GetInputDatum(0, 1), 0.5); // constant column
  EXPECT_EQ(a.GetOutputDatum(0, 0), 1.0);
  EXPECT_EQ(a.GetOutputDatum(0, 1), 0.0);
  EXPECT_EQ(r.training[2]->GetOutputDatum(0, 2), 1.0);
}

TEST(CsvImportTest, ChosenColumns) {
  kestrane::ImportRequest request;
  request.classColumn = "0";
  request.features = {"kind"};
  EXPECT_NE(ErrorOf([&] { kestrane::ImportCsv(Csv(kThree), request); }),
            ""); // "kind" is not numeric
  request.classColumn = "kind";
  request.features = {"f2", "0"};
  const kestrane::ImportResult r = kestrane::ImportCsv(Csv(kThree), request);
  ASSERT_EQ(r.ranges.features.size(), 2u);
  EXPECT_EQ(r.ranges.features[0].name, "f2");
  EXPECT_EQ(r.ranges.features[1].name, "f1");
  request.features = {"f1", "kind"};
  EXPECT_NE(ErrorOf([&] { kestrane::ImportCsv(Csv(kThree), request); }), "");
}

TEST(CsvImportTest, BadCellsNameTheLine) {
  kestrane::ImportRequest noMarks;
  noMarks.missing = {};
  EXPECT_EQ(ErrorOf([&] { kestrane::ImportCsv(Csv("f,c\n1,a\n,b\n"), noMarks); }),
            "line 3: missing value in column \"f\" (--na lists the texts of missing values)");
  EXPECT_EQ(ErrorOf([] { kestrane::ImportCsv(Csv("f,c\n1,a\n\"1,5\",b\n"), {}); }),
            "line 3: \"1,5\" in column \"f\" is not a number; most of the column's values are "
            "(--categorical f takes every value as a category); the class is the last column, "
            "\"c\", unless --class names another");
  EXPECT_NE(ErrorOf([] { kestrane::ImportCsv(Csv("f,c\n1,a\nnan,b\n"), {}); }),
            ""); // "nan" is not a mark of a missing value
  EXPECT_EQ(ErrorOf([] { kestrane::ImportCsv(Csv("f,c\n1,NA\n2,\n"), {}); }),
            "no row has a class value (every one of column \"c\" is missing)");
  EXPECT_EQ(ErrorOf([] { kestrane::ImportCsv(Csv("f,c\nNA,a\n?,b\nNaN,a\n,b\n"), {}); }),
            "column \"f\" has no value in any row; leave it out with --drop (Python: drop the "
            "column)");
  EXPECT_EQ(ErrorOf([] { kestrane::ImportCsv(Csv("f,c\n1,a\n2,b\n3,a\n"), {}); }),
            "line 3: class \"b\" has only this one row; every class needs at least two");
  EXPECT_NE(ErrorOf([] { kestrane::ImportCsv(Csv("f,c\n1,a\n2,a\n"), {}); }), ""); // one class
  EXPECT_NE(ErrorOf([] { kestrane::ImportCsv(Csv("f,c\n"), {}); }), "");           // no rows
}

TEST(CsvImportTest, HoldOutIsPerClassAndSeeded) {
  std::string text = "x,c\n";
  for (int i = 0; i < 20; ++i)
    text += std::to_string(i) + ",p\n" + std::to_string(i) + ",q\n";
  kestrane::ImportRequest request;
  request.holdout = 0.3;
  request.seed = 7;
  const kestrane::ImportResult r = kestrane::ImportCsv(Csv(text), request);
  EXPECT_EQ(r.training[0]->MbrNdxDataRows, 14);
  EXPECT_EQ(r.training[1]->MbrNdxDataRows, 14);
  ASSERT_TRUE(r.test);
  EXPECT_EQ(r.test->MbrNdxDataRows, 12);
  EXPECT_EQ(r.testRowsPerClass, (std::vector<int>{6, 6}));
  const kestrane::ImportResult again = kestrane::ImportCsv(Csv(text), request);
  request.seed = 8;
  const kestrane::ImportResult other = kestrane::ImportCsv(Csv(text), request);
  bool differs = false;
  for (int row = 0; row < 12; ++row) {
    EXPECT_EQ(r.test->GetInputDatum(row, 0), again.test->GetInputDatum(row, 0));
    differs = differs || r.test->GetInputDatum(row, 0) != other.test->GetInputDatum(row, 0);
  }
  EXPECT_TRUE(differs);
  EXPECT_EQ(kestrane::HoldOutCount(2, 0.9), 1); // one row always stays for training
  EXPECT_EQ(kestrane::HoldOutCount(50, 0.3), 15);
}

TEST(CsvImportTest, ReusedRangesClipAndKeepClassOrder) {
  const kestrane::ImportResult first = kestrane::ImportCsv(Csv(kThree), {});
  std::stringstream file;
  kestrane::WriteRanges(file, first.ranges);
  const kestrane::ImportRanges ranges = kestrane::ReadRanges(file);
  EXPECT_EQ(ranges.classes, first.ranges.classes);
  EXPECT_EQ(ranges.features[0].max, 5.0);

  kestrane::ImportRequest request;
  request.reuse = &ranges;
  // Columns in another order, found by name; 9 and 0 lie outside [1, 5].
  const kestrane::ImportResult r =
      kestrane::ImportCsv(Csv("kind,f2,f1\nc,10,9\nc,11,0\na,10,3\n"), request);
  EXPECT_EQ(r.clipped, 3); // f1 twice, f2 = 11 once
  EXPECT_TRUE(r.training.empty());
  ASSERT_EQ(r.test->MbrNdxDataRows, 3);
  EXPECT_EQ(r.test->GetInputDatum(0, 0), 0.5); // class a first
  EXPECT_EQ(r.test->GetOutputDatum(0, 0), 1.0);
  EXPECT_EQ(r.test->GetInputDatum(1, 0), 1.0);
  EXPECT_EQ(r.test->GetInputDatum(2, 0), 0.0);
  EXPECT_EQ(r.test->GetOutputDatum(2, 2), 1.0);
  EXPECT_EQ(ErrorOf([&] { kestrane::ImportCsv(Csv("kind,f2,f1\nd,10,9\n"), request); }),
            "line 2: class \"d\" is not in the ranges file");
}

TEST(RangesFileTest, RejectsMalformedFiles) {
  for (const char *text : {"", "something else\n", "kestrane-ranges 1\nclass\tc\noutput\ta\n",
                           "kestrane-ranges 1\nclass\tc\nfeature\t2\t1\tf\noutput\ta\n",
                           "kestrane-ranges 1\nclass\tc\nfeature\tx\t1\tf\noutput\ta\n"}) {
    std::istringstream in(text);
    EXPECT_NE(ErrorOf([&] { kestrane::ReadRanges(in); }), "") << text;
  }
}

// The writer refuses what the reader would: one case each.
TEST(RangesFileTest, WritesNothingItsReaderRefuses) {
  const auto writeError = [](const kestrane::ImportRanges &ranges) {
    std::ostringstream out;
    const std::string error = ErrorOf([&] { kestrane::WriteRanges(out, ranges); });
    EXPECT_EQ(out.str(), "");
    return error;
  };
  kestrane::ImportRanges ranges;
  ranges.classColumn = "kind";
  ranges.features = {{"a\tb", 0, 1}, {"a b", 0, 1}};
  ranges.classes = {"x", "y"};
  EXPECT_EQ(writeError(ranges), "two features would be named \"a b\" in the ranges file");
  ranges.features = {{std::string(65473, 'f'), 0, 1}};
  EXPECT_EQ(writeError(ranges),
            "feature name of 65473 bytes, more than the 65472 a ranges file holds");
  ranges.features.assign(999999, {"f", 0, 1});
  EXPECT_EQ(writeError(ranges).rfind("999999 features and 2 classes, more than the 1000000", 0),
            0u);
}

TEST(StarterParametersTest, ReadsBackAsWritten) {
  kestrane::StarterParameters p;
  p.weightFile = "w.wgt";
  p.destinationFile = "t.wgt";
  p.dataFiles = {"a.dat", "b.dat"};
  p.examples = 35;
  p.seed = 42;
  std::stringstream text;
  kestrane::WriteStarterParameters(text, p);
  kestrane::RunSettings s;
  std::vector<std::string> problems;
  EXPECT_EQ(kestrane::ReadParameters(text, s, problems), "");
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(s.weightFile, "w.wgt");
  EXPECT_EQ(s.destinationFile, "t.wgt");
  EXPECT_EQ(s.dataFiles, p.dataFiles);
  EXPECT_EQ(s.examples, (std::vector<int32_t>{35, 35}));
  EXPECT_EQ(s.epochs, p.epochs);
  EXPECT_EQ(s.changeAfter, p.changeAfter);
  EXPECT_FLOAT_EQ(s.learningRate, 0.1f);
  EXPECT_FALSE(s.batch);
  EXPECT_TRUE(s.hasSeed);
  EXPECT_EQ(s.seed, 42);
}

// Feature names are looked up once per name: a table of 20000 columns chosen
// by name and by index imports at once (a header scan per name took seconds).
TEST(CsvImportTest, WideTablesAndLongFeatureListsStayFast) {
  const int n = 20000;
  std::string header, row;
  kestrane::ImportRequest request;
  for (int c = 0; c < n; ++c) {
    header += "f" + std::to_string(c) + ",";
    row += std::to_string(c % 7) + ",";
    request.features.push_back(c % 2 ? "f" + std::to_string(c) : std::to_string(c));
  }
  const std::string text =
      header + "kind\n" + row + "a\n" + row + "a\n" + row + "b\n" + row + "b\n";
  const kestrane::ImportResult r = kestrane::ImportCsv(Csv(text), request);
  ASSERT_EQ(r.ranges.features.size(), static_cast<size_t>(n));
  EXPECT_EQ(r.ranges.features[n - 1].name, "f" + std::to_string(n - 1));

  // The first offending feature in the list is the one reported.
  request.features = {"f1", "kind", "f1"};
  EXPECT_EQ(ErrorOf([&] { kestrane::ImportCsv(Csv(text), request); }),
            "column \"f1\" is chosen twice as a feature");
  request.features = {"kind", "f2", "f2"};
  EXPECT_EQ(ErrorOf([&] { kestrane::ImportCsv(Csv(text), request); }),
            "column \"kind\" is the class column; it cannot be a feature");
  request.features = {"f2", "nope"};
  EXPECT_NE(ErrorOf([&] { kestrane::ImportCsv(Csv(text), request); }).find("no column \"nope\""),
            std::string::npos);
}

// Many classes of two rows each: the one-hot tables would need rows x classes
// numbers, so a file of a few megabytes could ask for terabytes.
TEST(CsvImportTest, ImportsBeyondTheNumberLimitAreRefused) {
  std::string text = "f,c\n";
  const int classes = 12000; // 24000 rows x 12001 numbers > 2^27
  for (int k = 0; k < classes; ++k)
    text += "1,k" + std::to_string(k) + "\n1,k" + std::to_string(k) + "\n";
  EXPECT_EQ(ErrorOf([&] { kestrane::ImportCsv(Csv(text), kestrane::ImportRequest()); }),
            "the import would hold 288024000 numbers (rows x (features + classes)), more than the "
            "limit of 134217728");
}

} // namespace

namespace {

// Read record by record, an import stops at the row that passes the number
// limit (set small here): the NUL byte further on, which reading on would
// report, is never reached. Within the limit the stream and the table give
// the same tables.
TEST(CsvImportTest, StreamedImportStopsAtTheRowThatPassesTheLimit) {
  const std::string rows = "f,c\n1,a\n2,b\n3,a\n4,b\n";
  kestrane::ImportRequest request;
  request.maxNumbers = 10; // 3 numbers a row once both classes are seen
  // The reader takes the text a block at a time: what lies beyond the
  // block of the refused row is never read.
  std::istringstream in(rows + std::string(1, '\0') + "\n5,a\n" + std::string(1 << 17, '\n'));
  EXPECT_EQ(ErrorOf([&] { kestrane::ImportCsv(in, ',', request); }),
            "line 5: the import would hold 12 numbers (rows x (features + classes)), more than "
            "the limit of 10; refused at this row");
  EXPECT_GT(in.rdbuf()->in_avail(), 0);

  request.maxNumbers = 12;
  request.holdout = 0.5;
  std::istringstream whole(rows);
  const kestrane::ImportResult streamed = kestrane::ImportCsv(whole, ',', request);
  const kestrane::ImportResult table = kestrane::ImportCsv(Csv(rows), request);
  ASSERT_EQ(streamed.training.size(), 2u);
  EXPECT_EQ(streamed.rows, 4);
  for (size_t k = 0; k < 2; ++k)
    EXPECT_EQ(streamed.training[k]->MbrDyaRtpInputs, table.training[k]->MbrDyaRtpInputs);
  EXPECT_EQ(streamed.test->MbrDyaRtpInputs, table.test->MbrDyaRtpInputs);
  EXPECT_EQ(streamed.test->MbrDyaRtpOutputs, table.test->MbrDyaRtpOutputs);
}

} // namespace

// A feature field reads as strtod reads it, whole and finite, blanks around it allowed.
TEST(CsvImportTest, FeatureFieldsReadAsStrtodReadsThem) {
  const struct {
    const char *text;
    bool number;
  } cases[] = {
      {"0.1", true},    {" -2.5e-3\t", true},
      {"+7", true},     {"0x1p-2", true},
      {".5", true},     {"5.", true},
      {"1e-310", true}, {"1e-400", true},
      {"\r1", true},    {"12345678901234567890123", true},
      {"1e400", false}, {"inf", false},
      {"nan", false},   {"", false},
      {" \t", false},   {"1e", false},
      {"1,5", false},   {"- 1", false},
      {"1 2", false},
  };
  for (const auto &c : cases) {
    double value = -1;
    const bool number = kestrane::ParseFeatureValue(c.text, value);
    EXPECT_EQ(number, c.number) << c.text;
    if (number) {
      std::string trimmed(c.text);
      trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
      EXPECT_EQ(value, std::strtod(trimmed.c_str(), nullptr)) << c.text;
    }
  }
  EXPECT_TRUE(kestrane::IsMissingMark(" NA\t", kestrane::DefaultMissingMarks()));
  EXPECT_FALSE(kestrane::IsMissingMark("N A", kestrane::DefaultMissingMarks()));
}

// A column of numbers with more values than a column of categories may hold
// stops keeping codes; the categories beside it, before and after, stay right.
TEST(CsvImportTest, CategoriesBesideAColumnOfManyNumbers) {
  std::string text = "n,colour,few,kind\n";
  for (int i = 0; i < 2500; ++i) {
    text += std::to_string(i) + "," + (i % 3 == 0 ? "red" : "blue") + "," + std::to_string(i % 4) +
            "," + (i % 2 ? "x" : "y") + "\n";
  }
  std::istringstream in(text);
  const kestrane::ImportResult r = kestrane::ImportCsv(in, ',', {});
  ASSERT_EQ(r.ranges.features.size(), 4u); // n, colour=blue, colour=red, few
  for (int k = 0; k < 2; ++k) {
    const kestrane::Data &table = *r.training[k];
    ASSERT_EQ(table.MbrNdxDataRows, 1250);
    for (int row = 0; row < 1250; ++row) {
      const int i = 2 * row + (k == 0 ? 1 : 0); // x: odd rows, y: even rows
      EXPECT_EQ(table.GetInputDatum(row, 0), i / 2499.0);
      EXPECT_EQ(table.GetInputDatum(row, 1), i % 3 == 0 ? 0.0 : 1.0) << i;
      EXPECT_EQ(table.GetInputDatum(row, 2), i % 3 == 0 ? 1.0 : 0.0) << i;
      EXPECT_EQ(table.GetInputDatum(row, 3), (i % 4) / 3.0);
    }
  }
}
