#ifndef KESTRANE_DATATOOLS_CSVIMPORT_FEATURESCALING_H
#define KESTRANE_DATATOOLS_CSVIMPORT_FEATURESCALING_H

// Scaling of feature values into [0, 1], the scale of the network's inputs.

#include "DataTools/CsvImport/ImportError.h"

#include <string>
#include <vector>

namespace kestrane {

struct FeatureRange {
  std::string name;
  double min = 0.0;
  double max = 0.0;
  // One input of a categorical column: 1 when the column holds `category`,
  // 0 when it holds another one, missing when it holds none. Its range is
  // [0, 1] and its name "column=category".
  bool categorical = false;
  std::string column{};
  std::string category{};
};

// The CSV column an input reads: its name, or the column of its category.
inline const std::string &SourceColumn(const FeatureRange &f) {
  return f.categorical ? f.column : f.name;
}

// (value - min) / (max - min); a constant feature (min == max) gives 0.5.
// A value outside [min, max] is clipped to 0 or 1 and sets `clipped`. A
// missing value (NaN) stays missing.
double ScaleFeature(const FeatureRange &range, double value, bool &clipped);

// Reads a feature value: a finite decimal number, blanks around it allowed.
// False for anything else (empty text included).
bool ParseFeatureValue(const std::string &text, double &value);

// The texts that mark a missing value unless the user names others: the
// empty field, NA, NaN and ?.
const std::vector<std::string> &DefaultMissingMarks();
// Whether `text`, blanks around it dropped, is one of `marks`.
bool IsMissingMark(const std::string &text, const std::vector<std::string> &marks);

// The range of every column of `values` (rows of equal length, at least one
// row) over its present values; missing values (NaN) are passed over. Raises
// ImportError for a column with no value at all.
std::vector<FeatureRange> ComputeRanges(const std::vector<std::string> &names,
                                        const std::vector<std::vector<double>> &values);

// How a column's range is fitted. kMinMax: its smallest and largest value.
// kRobust: the 5th and 95th percentiles widened on each side by their
// distance, never beyond the smallest and largest value; a few extreme rows
// (up to one in twenty at either end) then no longer squeeze every other row
// into one end of [0, 1], and ScaleFeature clips them. A column whose
// percentiles coincide (mostly one value) keeps its minimum and maximum.
enum class RangeFit { kMinMax, kRobust };

// Narrows `range` (already the column's minimum and maximum) to the robust
// range of the column's present `values` (NaN passed over; the order is not kept).
void FitRobustRange(FeatureRange &range, std::vector<double> values);

// ComputeRanges, then FitRobustRange for every column when `fit` is kRobust.
std::vector<FeatureRange> ComputeRanges(const std::vector<std::string> &names,
                                        const std::vector<std::vector<double>> &values,
                                        RangeFit fit);

// The message of a feature column without any value.
std::string MissingColumnText(const std::string &name);

// Scales every value in place by its column's range (ScaleFeature); returns
// how many values were clipped.
long ScaleRows(const std::vector<FeatureRange> &ranges, std::vector<std::vector<double>> &rows);
// The same for `rows` rows stored one after another, ranges.size() values each.
long ScaleTable(const std::vector<FeatureRange> &ranges, double *values, size_t rows);

} // namespace kestrane

#endif
