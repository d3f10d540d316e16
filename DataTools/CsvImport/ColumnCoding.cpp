#include "DataTools/CsvImport/ColumnCoding.h"

#include "KQmessage/QuotedField.h"

#include "DataTools/CsvImport/CsvImport.h"
#include "DataTools/CsvImport/ImportError.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrane {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

std::string Trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos)
    return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether input i reads the same column as input i - 1: the categories of one column.
bool SameColumn(const std::vector<FeatureRange> &inputs, size_t i) {
  return i > 0 && inputs[i].categorical && inputs[i - 1].categorical &&
         inputs[i].column == inputs[i - 1].column;
}

std::string At(int line) { return "line " + std::to_string(line) + ": "; }

std::string TooMany(const std::string &column) {
  return "column " + QuotedField(column) + " has more than " + std::to_string(kMaxCategories) +
         " different values, too many to be categories; leave it out with --drop";
}

} // namespace

ColumnLearner::ColumnLearner(std::vector<std::string> names,
                             const std::vector<std::string> &categorical,
                             const std::vector<std::string> &missing)
    : missing_(missing) {
  for (std::string &name : names) {
    Column column;
    column.forced = std::find(categorical.begin(), categorical.end(), name) != categorical.end();
    column.name = std::move(name);
    columns_.push_back(std::move(column));
  }
}

int32_t ColumnLearner::Code(Column &column, const std::string &text, int line) {
  if (column.overflow)
    return -1;
  const auto found = column.codes.find(text);
  if (found != column.codes.end())
    return found->second;
  if (column.texts.size() == kMaxCategories) {
    if (column.Categorical())
      throw ImportError(At(line) + TooMany(column.name));
    // Numbers need no codes; should a text turn up later, the column is refused.
    column.overflow = true;
    decltype(column.codes)().swap(column.codes);
    decltype(column.texts)().swap(column.texts);
    return -1;
  }
  const auto code = static_cast<int32_t>(column.texts.size());
  column.codes.emplace(text, code);
  column.texts.push_back(text);
  return code;
}

void ColumnLearner::Read(const std::vector<std::string> &fields, const std::vector<int> &at,
                         int line, double *values, int32_t *codes) {
  for (size_t c = 0; c < columns_.size(); ++c) {
    const std::string &cell = fields[at[c]];
    Column &column = columns_[c];
    if (IsMissingMark(cell, missing_)) {
      values[c] = kMissing;
      codes[c] = -1;
      continue;
    }
    ++column.present;
    double value = 0.0;
    const bool number = !column.forced && ParseFeatureValue(cell, value);
    column.numbers += number ? 1 : 0;
    if (!number && !column.text) {
      column.text = true;
      column.firstTextLine = line;
      column.firstText = cell;
      if (column.overflow) {
        throw ImportError(At(line) + QuotedField(cell) + " in column " + QuotedField(column.name) +
                          " is not a number, and the column has more than " +
                          std::to_string(kMaxCategories) +
                          " different values, too many to be categories");
      }
    }
    values[c] = number ? value : kMissing;
    // A column of numbers stops keeping codes at kMaxCategories values: no
    // copy of its cells from then on.
    codes[c] = column.overflow ? -1 : Code(column, Trimmed(cell), line);
  }
}

std::vector<FeatureRange> ColumnLearner::Finish() {
  std::vector<FeatureRange> inputs;
  for (const Column &column : columns_) {
    if (column.forced || !column.text || column.numbers < column.present - column.numbers)
      continue;
    const std::string at = At(column.firstTextLine);
    if (column.firstText.find_first_not_of(" \t") == std::string::npos)
      throw ImportError(at + "missing value in column " + QuotedField(column.name) +
                        " (--na lists the texts of missing values)");
    throw ImportError(at + QuotedField(column.firstText) + " in column " +
                      QuotedField(column.name) +
                      " is not a number; most of the column's values are (--categorical " +
                      column.name + " takes every value as a category)" + classHint_);
  }
  for (Column &column : columns_) {
    if (!column.Categorical()) {
      FeatureRange input;
      input.name = column.name;
      inputs.push_back(input);
      continue;
    }
    if (column.texts.empty())
      throw ImportError(MissingColumnText(column.name));
    const std::vector<std::string> sorted = SortedClassNames(column.texts);
    column.position.assign(column.texts.size(), 0);
    for (size_t k = 0; k < sorted.size(); ++k) {
      column.position[static_cast<size_t>(column.codes.at(sorted[k]))] = static_cast<int32_t>(k);
      FeatureRange input;
      input.name = column.name + "=" + sorted[k];
      input.min = 0.0;
      input.max = 1.0;
      input.categorical = true;
      input.column = column.name;
      input.category = sorted[k];
      inputs.push_back(input);
    }
  }
  return inputs;
}

void ColumnLearner::Expand(const double *values, const int32_t *codes, double *inputs) const {
  for (size_t c = 0; c < columns_.size(); ++c) {
    const Column &column = columns_[c];
    if (!column.Categorical()) {
      *inputs++ = values[c];
      continue;
    }
    const size_t count = column.position.size();
    for (size_t k = 0; k < count; ++k) {
      inputs[k] =
          codes[c] < 0
              ? kMissing
              : (column.position[static_cast<size_t>(codes[c])] == static_cast<int32_t>(k) ? 1.0
                                                                                           : 0.0);
    }
    inputs += count;
  }
}

std::vector<std::string> ColumnLearner::Notes() const {
  std::vector<std::string> notes;
  for (const Column &column : columns_) {
    if (!column.Categorical())
      continue;
    if (column.text && column.present > 2 &&
        static_cast<int64_t>(column.texts.size()) == column.present) {
      notes.push_back("!Warning: every value of column \"" + column.name +
                      "\" is different, as in an ID column, which tells nothing about new "
                      "rows; leave it out with --drop " +
                      column.name);
    } else {
      notes.push_back("column \"" + column.name + "\" taken as categories: " +
                      std::to_string(column.texts.size()) + " inputs \"" + column.name + "=...\"" +
                      (column.forced ? "" : " (it holds text)"));
    }
  }
  return notes;
}

RowEncoder::RowEncoder(const std::vector<FeatureRange> &inputs, std::vector<int> at,
                       std::vector<std::string> header, std::vector<std::string> missing)
    : header_(std::move(header)), missing_(std::move(missing)) {
  for (size_t i = 0; i < inputs.size(); ++i) {
    const FeatureRange &input = inputs[i];
    if (!SameColumn(inputs, i)) {
      Source source;
      source.field = at.at(sources_.size());
      source.first = i;
      source.count = 0;
      source.categorical = input.categorical;
      sources_.push_back(std::move(source));
    }
    Source &source = sources_.back();
    if (input.categorical)
      source.offset.emplace(input.category, source.count);
    ++source.count;
  }
}

std::vector<std::string> RowEncoder::SourceColumns(const std::vector<FeatureRange> &inputs) {
  std::vector<std::string> columns;
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (!SameColumn(inputs, i))
      columns.push_back(SourceColumn(inputs[i]));
  }
  return columns;
}

int RowEncoder::Encode(const std::vector<std::string> &fields, int line, double *inputs) {
  int missing = 0;
  for (const Source &source : sources_) {
    const std::string &cell = fields[source.field];
    double *out = inputs + source.first;
    if (!source.categorical) {
      *out = ReadFeatureField(cell, header_[source.field], line, missing_);
      missing += std::isnan(*out) ? 1 : 0;
      continue;
    }
    size_t hot = source.count;
    if (!IsMissingMark(cell, missing_)) {
      const auto found = source.offset.find(Trimmed(cell));
      if (found != source.offset.end()) {
        hot = found->second;
      } else if (unseen_++ == 0) {
        firstUnseen_ = At(line) + QuotedField(Trimmed(cell)) + " in column " +
                       QuotedField(header_[source.field]);
      }
    }
    for (size_t k = 0; k < source.count; ++k)
      out[k] = hot == source.count ? kMissing : (k == hot ? 1.0 : 0.0);
    missing += hot == source.count ? 1 : 0;
  }
  return missing;
}

std::string RowEncoder::UnseenWarning() const {
  if (unseen_ == 0)
    return std::string();
  return "!Warning: " + std::to_string(unseen_) +
         (unseen_ == 1 ? " value is a category" : " values are categories") +
         " the import did not see, taken as missing (the first: " + firstUnseen_ + ")\n";
}

} // namespace kestrane
