#include "DataTools/CsvImport/FeatureScaling.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace kestrane {

namespace {

// ScaleFeature, inline for the loop over a whole table.
inline double Scaled(const FeatureRange &range, double value, bool &clipped) {
  clipped = false;
  if (std::isnan(value))
    return value;
  if (value < range.min) {
    clipped = true;
    return 0.0;
  }
  if (value > range.max) {
    clipped = true;
    return 1.0;
  }
  if (range.max == range.min)
    return 0.5;
  const double span = range.max - range.min;
  // A column from -1e308 to 1e308 spans more than the largest double; halving
  // is exact and keeps the quotient finite.
  if (!std::isfinite(span))
    return (value / 2 - range.min / 2) / (range.max / 2 - range.min / 2);
  return (value - range.min) / span;
}

} // namespace

double ScaleFeature(const FeatureRange &range, double value, bool &clipped) {
  return Scaled(range, value, clipped);
}

namespace {

// `text` without the blanks (spaces and tabs) around it.
std::string_view WithoutBlanks(const std::string &text) {
  const char *first = text.data();
  const char *last = first + text.size();
  while (first != last && (*first == ' ' || *first == '\t'))
    ++first;
  while (last != first && (last[-1] == ' ' || last[-1] == '\t'))
    --last;
  return std::string_view(first, static_cast<size_t>(last - first));
}

} // namespace

bool ParseFeatureValue(const std::string &text, double &value) {
  const std::string_view trimmed = WithoutBlanks(text);
  if (trimmed.empty())
    return false;
  // A plain decimal number, by far the commonest field, reads to the same
  // correctly rounded double through from_chars, without a copy or the
  // locale. What it does not take whole (a leading '+', hexadecimal, a value
  // out of range) is read by strtod as ever.
  const char *last = trimmed.data() + trimmed.size();
  const auto result = std::from_chars(trimmed.data(), last, value);
  if (result.ec == std::errc() && result.ptr == last)
    return std::isfinite(value);
  const std::string copy(trimmed);
  char *end = nullptr;
  value = std::strtod(copy.c_str(), &end);
  return *end == '\0' && std::isfinite(value);
}

const std::vector<std::string> &DefaultMissingMarks() {
  static const std::vector<std::string> marks{"", "NA", "NaN", "?"};
  return marks;
}

bool IsMissingMark(const std::string &text, const std::vector<std::string> &marks) {
  const std::string_view trimmed = WithoutBlanks(text);
  for (const std::string &mark : marks) {
    if (trimmed == mark)
      return true;
  }
  return false;
}

std::vector<FeatureRange> ComputeRanges(const std::vector<std::string> &names,
                                        const std::vector<std::vector<double>> &values) {
  std::vector<FeatureRange> ranges(names.size());
  for (size_t f = 0; f < names.size(); ++f) {
    ranges[f].name = names[f];
    bool seen = false;
    for (const auto &row : values) {
      const double v = row.at(f);
      if (std::isnan(v))
        continue;
      if (!seen)
        ranges[f].min = ranges[f].max = v;
      seen = true;
      if (v < ranges[f].min)
        ranges[f].min = v;
      if (v > ranges[f].max)
        ranges[f].max = v;
    }
    if (!seen)
      throw ImportError(MissingColumnText(names[f]));
  }
  return ranges;
}

namespace {

// The q-quantile of `values`, between neighbours by linear interpolation, as
// in the sorted order; two selections instead of a sort, since a column may
// hold millions of rows. Reorders `values`.
double Quantile(std::vector<double> &values, double q) {
  const double at = q * static_cast<double>(values.size() - 1);
  const size_t below = static_cast<size_t>(at);
  const auto nth = values.begin() + static_cast<std::ptrdiff_t>(below);
  if (below + 1 >= values.size())
    return *std::max_element(values.begin(), values.end());
  std::nth_element(values.begin(), nth, values.end());
  const double next = *std::min_element(nth + 1, values.end());
  return *nth + (next - *nth) * (at - static_cast<double>(below));
}

} // namespace

void FitRobustRange(FeatureRange &range, std::vector<double> values) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
               values.end());
  if (values.size() < 2)
    return;
  const double low = Quantile(values, 0.05);
  const double high = Quantile(values, 0.95);
  const double width = high - low;
  if (!(width > 0.0) || !std::isfinite(width))
    return;
  range.min = std::max(range.min, low - width);
  range.max = std::min(range.max, high + width);
}

std::vector<FeatureRange> ComputeRanges(const std::vector<std::string> &names,
                                        const std::vector<std::vector<double>> &values,
                                        RangeFit fit) {
  std::vector<FeatureRange> ranges = ComputeRanges(names, values);
  if (fit == RangeFit::kRobust) {
    std::vector<double> column(values.size());
    for (size_t f = 0; f < ranges.size(); ++f) {
      for (size_t r = 0; r < values.size(); ++r)
        column[r] = values[r][f];
      FitRobustRange(ranges[f], column);
    }
  }
  return ranges;
}

std::string MissingColumnText(const std::string &name) {
  return "column \"" + name +
         "\" has no value in any row; leave it out with --drop (Python: drop the column)";
}

long ScaleRows(const std::vector<FeatureRange> &ranges, std::vector<std::vector<double>> &rows) {
  long clipped = 0;
  for (std::vector<double> &row : rows) {
    for (size_t f = 0; f < row.size(); ++f) {
      bool outside = false;
      row[f] = ScaleFeature(ranges.at(f), row[f], outside);
      if (outside)
        ++clipped;
    }
  }
  return clipped;
}

long ScaleTable(const std::vector<FeatureRange> &ranges, double *values, size_t rows) {
  // A column whose span is finite and not zero scales a value inside its
  // range by one subtraction and one division; the rest (missing, outside,
  // the other columns) as one value alone.
  const size_t cols = ranges.size();
  std::vector<double> min(cols), max(cols), span(cols);
  std::vector<char> plain(cols);
  for (size_t f = 0; f < cols; ++f) {
    const FeatureRange &range = ranges[f];
    min[f] = range.min;
    max[f] = range.max;
    span[f] = range.max - range.min;
    plain[f] = range.max != range.min && std::isfinite(span[f]);
  }
  long clipped = 0;
  for (size_t r = 0; r < rows; ++r, values += cols) {
    for (size_t f = 0; f < cols; ++f) {
      const double value = values[f];
      if (plain[f] && value >= min[f] && value <= max[f]) {
        values[f] = (value - min[f]) / span[f];
        continue;
      }
      bool outside = false;
      values[f] = Scaled(ranges[f], value, outside);
      if (outside)
        ++clipped;
    }
  }
  return clipped;
}

} // namespace kestrane
