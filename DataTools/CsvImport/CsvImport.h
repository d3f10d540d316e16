#ifndef KESTRANE_DATATOOLS_CSVIMPORT_CSVIMPORT_H
#define KESTRANE_DATATOOLS_CSVIMPORT_CSVIMPORT_H

// Turning a CSV table into Kestrane data tables: the features scaled into
// [0, 1], the class as one-hot expected outputs (one output per class, the
// classes in sorted order), one training table per class and an optional
// table of held-out rows.

#include "DataObject/Data.h"
#include "DataTools/CsvImport/CsvReader.h"
#include "DataTools/CsvImport/RangesFile.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace kestrane {

// The tables of one import hold at most this many numbers, rows x (features +
// classes): 1 GiB of doubles, far beyond any data a fuzzy classifier trains on.
inline constexpr int64_t kMaxImportNumbers = int64_t{1} << 27;

struct ImportRequest {
  std::string classColumn;           // name or 0-based index; empty: the last column
  std::vector<std::string> features; // names or indices; empty: every other column
  double holdout = 0.0;              // fraction of each class held out, 0 <= holdout < 1
  uint64_t seed = 1;
  // Field texts that mean "no value": a missing feature value stays missing
  // (NaN in the tables), a row without a class is skipped and counted.
  std::vector<std::string> missing = DefaultMissingMarks();
  // Columns taken as categories even when they hold numbers (a column that
  // holds text always is), and columns left out.
  std::vector<std::string> categorical;
  std::vector<std::string> drop;
  // Reuse the scaling and classes of an earlier import: every row then goes
  // to `test` and no training tables are built. Values outside the earlier
  // ranges are clipped; class and features default to those of the ranges.
  const ImportRanges *reuse = nullptr;
  // How the training rows fit each column's range (FeatureScaling.h); the
  // tool's default is Boot's kDefaults.robustScaling.
  RangeFit rangeFit = RangeFit::kMinMax;
  // The most numbers the tables may hold (kMaxImportNumbers unless a test
  // sets a small one); an import stops at the row that passes it.
  int64_t maxNumbers = kMaxImportNumbers;
};

struct ImportResult {
  ImportRanges ranges;
  std::vector<std::unique_ptr<Data>> training; // one per class, in ranges.classes order
  std::unique_ptr<Data> test;                  // held-out rows; none when nothing is held out
  std::vector<int> testRowsPerClass;
  int64_t rows = 0;               // data rows read, the skipped ones included
  long skipped = 0;               // rows without a class, left out
  long missing = 0;               // missing feature values kept as missing
  std::vector<std::string> notes; // the columns taken as categories, ID-like columns
  std::string unseenWarning;      // reused ranges: categories they lack, or ""
  long clipped = 0;               // feature values clipped to [0, 1]:
                                  // held-out rows outside the training
                                  // rows' ranges, or rows outside reused ranges
  long clippedTraining = 0;       // of those, training values outside a robust range
};

// The feature values and the class of every row, unscaled, as import reads
// them: the columns chosen as the request says (its holdout is not used).
struct LabelledRows {
  std::string classColumn;
  std::vector<std::string> featureNames;   // the inputs: a column, or "column=category"
  std::vector<std::vector<double>> values; // per row, one value per input
  std::vector<std::string> labels;         // per row
  long skipped = 0;                        // rows without a class, left out
  long missing = 0;                        // missing feature values (NaN in values)
  std::vector<std::string> notes;          // as ImportResult's
};
// Raises ImportError for a table without data rows, bad column choices, a
// feature column without any value and ("line N: ...") a non-numeric feature
// value. Rows without a class are skipped and counted.
LabelledRows ReadLabelledRows(const CsvTable &csv, const ImportRequest &request);
// The same, reading the CSV text record by record: only the numbers and the
// labels are held. Raises the errors of ReadCsv and then of the table
// version, the same one for the same text.
LabelledRows ReadLabelledRows(std::istream &in, char separator, const ImportRequest &request);

// The number in row `row` (0-based among the data rows), column `column`;
// ImportError ("line N: ...") naming the column when it is missing or not a number.
double ReadFeatureCell(const CsvTable &csv, size_t row, int column);
// The same for the text of one field of column `column` on line `line`.
double ReadFeatureField(const std::string &cell, const std::string &column, int line);
// The same, except that a field that is one of `missing` gives NaN.
double ReadFeatureField(const std::string &cell, const std::string &column, int line,
                        const std::vector<std::string> &missing);

// Raises ImportError with the CSV line number for a non-numeric feature
// value, a class with a single row, a class unknown
// to reused ranges, a table without data rows and tables beyond kMaxImportNumbers.
ImportResult ImportCsv(const CsvTable &csv, const ImportRequest &request);
// The same, reading the CSV text record by record: it holds the parsed
// numbers and a few per class, never the text. Also raises the errors of
// ReadCsv, each as soon as its record is read.
ImportResult ImportCsv(std::istream &in, char separator, const ImportRequest &request);

// The distinct labels in output order, the one order of classes that every
// front end uses: by value when every label is a number ("2" before "10"),
// else by their text (bytes).
std::vector<std::string> SortedClassNames(std::vector<std::string> labels);

// A table of the rows `rows` (indices into `scaled` and `classOf`), in that
// order: the scaled inputs and the one-hot class over numClasses outputs.
std::unique_ptr<Data> MakeClassTable(const std::vector<int> &rows,
                                     const std::vector<std::vector<double>> &scaled,
                                     const std::vector<int> &classOf, int numClasses);

// The one-hot vector of class k among n classes.
std::vector<double> OneHot(int k, int n);

} // namespace kestrane

#endif
