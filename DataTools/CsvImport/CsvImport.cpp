#include "DataTools/CsvImport/CsvImport.h"

#include "DataTools/CsvImport/ClassSplit.h"
#include "DataTools/CsvImport/ColumnCoding.h"
#include "KQmessage/QuotedField.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <istream>
#include <limits>
#include <map>
#include <unordered_map>

namespace kestrane {

namespace {

struct Columns {
  int classColumn = -1;
  std::vector<int> features;
};

// `text` as a 0-based column index, as CsvTable::FindColumn reads it; -1 if it is none.
int ColumnIndex(const CsvTable &csv, const std::string &text) {
  char *end = nullptr;
  const long index = std::strtol(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && index >= 0 && index < static_cast<long>(csv.header.size()))
    return static_cast<int>(index);
  return -1;
}

Columns ChooseColumns(const CsvTable &csv, const ImportRequest &request) {
  Columns chosen;
  // A ranges file names its class column even when the header left it blank.
  const bool named = !request.classColumn.empty() || request.reuse != nullptr;
  const std::string &classText = request.classColumn.empty() && request.reuse
                                     ? request.reuse->classColumn
                                     : request.classColumn;
  chosen.classColumn = named ? csv.FindColumn(classText) : static_cast<int>(csv.header.size()) - 1;
  std::vector<std::string> names = request.features;
  if (names.empty() && request.reuse)
    names = RowEncoder::SourceColumns(request.reuse->features);
  std::vector<char> dropped(csv.header.size(), 0);
  for (const std::string &name : request.drop) {
    const int column = csv.FindColumn(name);
    if (column == chosen.classColumn)
      throw ImportError("--drop: column \"" + csv.header[column] + "\" is the class column");
    dropped[column] = 1;
  }
  if (names.empty()) {
    for (int c = 0; c < static_cast<int>(csv.header.size()); ++c) {
      if (c != chosen.classColumn && !dropped[c])
        chosen.features.push_back(c);
    }
  } else {
    // CsvTable::FindColumn for every name, with the header indexed once: a
    // wide table or a long feature list stays linear.
    std::unordered_map<std::string, int> byName;
    for (int c = 0; c < static_cast<int>(csv.header.size()); ++c) {
      const auto inserted = byName.emplace(csv.header[c], c);
      if (!inserted.second)
        inserted.first->second = -1; // ambiguous
    }
    for (const std::string &name : names) {
      const auto found = byName.find(name);
      int column = found != byName.end() ? found->second : ColumnIndex(csv, name);
      if (column < 0)
        column = csv.FindColumn(name); // raises the error
      if (!dropped[column])
        chosen.features.push_back(column);
    }
  }
  for (const std::string &name : request.categorical) {
    bool found = false;
    for (int f : chosen.features)
      found = found || csv.header[f] == name;
    if (!found)
      throw ImportError("--categorical: \"" + name + "\" is not a feature column");
  }
  std::vector<int> uses(csv.header.size(), 0);
  for (int f : chosen.features)
    ++uses[f];
  for (int f : chosen.features) {
    if (f == chosen.classColumn) {
      throw ImportError("column " + QuotedField(csv.header[f]) +
                        " is the class column; it cannot be a feature");
    }
    if (uses[f] > 1)
      throw ImportError("column " + QuotedField(csv.header[f]) + " is chosen twice as a feature");
  }
  if (chosen.features.empty())
    throw ImportError("no feature columns (the CSV has only the class column)");
  if (request.reuse) {
    const size_t columns = RowEncoder::SourceColumns(request.reuse->features).size();
    if (chosen.features.size() != columns) {
      throw ImportError(std::to_string(chosen.features.size()) +
                        " features chosen, the ranges file has " + std::to_string(columns));
    }
  }
  return chosen;
}

// Rows without a class are skipped; a table of nothing else has nothing to learn.
void CheckSomeRows(const LabelledRows &read) {
  if (read.values.empty())
    throw ImportError("no row has a class value (every one of column \"" + read.classColumn +
                      "\" is missing)");
}

ImportError NoDataRows() { return ImportError("the CSV file has a header but no data rows"); }

// When the class column was not named: which one was taken, for a message
// about the others (a class column that is not last reads as a feature).
std::string ClassHint(const ImportRequest &request, const std::string &classColumn) {
  if (!request.classColumn.empty() || request.reuse)
    return std::string();
  return "; the class is the last column, \"" + classColumn + "\", unless --class names another";
}

// A feature column named like a class column, while the class defaulted to
// the last one: likely a table whose class is not last.
void NoteClassLikeFeature(const ImportRequest &request, const std::vector<std::string> &header,
                          const Columns &columns, std::vector<std::string> &notes) {
  if (!request.classColumn.empty() || request.reuse)
    return;
  for (int f : columns.features) {
    std::string lower;
    for (char c : header[f])
      lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "class" || lower == "label" || lower == "target") {
      notes.push_back("!Warning: column \"" + header[f] +
                      "\" is taken as a feature: the class is the last column, \"" +
                      header[columns.classColumn] + "\", unless --class names another");
    }
  }
}

// Reads the labelled rows of a table, learning its columns of categories.
class LabelledReader {
public:
  LabelledReader(const std::vector<std::string> &header, const Columns &columns,
                 const ImportRequest &request)
      : columns_(columns),
        learner_(ColumnNames(header, columns), request.categorical, request.missing),
        missing_(request.missing) {
    read_.classColumn = header[columns.classColumn];
    learner_.SetClassHint(ClassHint(request, read_.classColumn));
    NoteClassLikeFeature(request, header, columns, classNotes_);
  }

  void Add(const std::vector<std::string> &fields, int line) {
    const size_t n = columns_.features.size();
    std::vector<double> values(n);
    std::vector<int32_t> codes(n);
    learner_.Read(fields, columns_.features, line, values.data(), codes.data());
    const std::string &label = fields[columns_.classColumn];
    if (label.empty() || IsMissingMark(label, missing_)) {
      ++read_.skipped;
      return;
    }
    for (size_t c = 0; c < n; ++c)
      read_.missing += std::isnan(values[c]) && codes[c] < 0 ? 1 : 0;
    read_.values.push_back(std::move(values));
    codes_.push_back(std::move(codes));
    read_.labels.push_back(label);
  }

  LabelledRows Finish() {
    CheckSomeRows(read_);
    const std::vector<FeatureRange> inputs = learner_.Finish();
    read_.notes = learner_.Notes();
    read_.notes.insert(read_.notes.begin(), classNotes_.begin(), classNotes_.end());
    bool categories = false;
    for (const FeatureRange &input : inputs) {
      read_.featureNames.push_back(input.name);
      categories = categories || input.categorical;
    }
    if (categories) {
      for (size_t r = 0; r < read_.values.size(); ++r) {
        std::vector<double> wide(inputs.size());
        learner_.Expand(read_.values[r].data(), codes_[r].data(), wide.data());
        read_.values[r].swap(wide);
        std::vector<int32_t>().swap(codes_[r]);
      }
    }
    return std::move(read_);
  }

private:
  static std::vector<std::string> ColumnNames(const std::vector<std::string> &header,
                                              const Columns &columns) {
    std::vector<std::string> names;
    for (int f : columns.features)
      names.push_back(header[f]);
    return names;
  }

  Columns columns_;
  ColumnLearner learner_;
  std::vector<std::string> missing_;
  LabelledRows read_;
  std::vector<std::vector<int32_t>> codes_;
  std::vector<std::string> classNotes_;
};

// The ranges file names the columns and classes for a later import of the
// same CSV: a name it cannot hold on one line or cannot find again is refused
// now rather than by that import.
void CheckNamesForRanges(const std::vector<std::string> &header,
                         const std::vector<std::string> &featureNames,
                         const std::string &classColumn, const std::vector<std::string> &classes) {
  auto oneLine = [](const std::string &name, const std::string &what) {
    if (name.find_first_of("\t\r\n") != std::string::npos)
      throw ImportError(what + " " + QuotedField(name) +
                        " holds a tab or a line break, which the ranges file cannot hold");
  };
  std::unordered_map<std::string, int> count;
  for (const std::string &name : header)
    ++count[name];
  std::vector<std::string> used = featureNames;
  used.push_back(classColumn);
  for (const std::string &name : used) {
    if (count[name] > 1)
      throw ImportError("column name " + QuotedField(name) +
                        " appears more than once in the header; the ranges file could not tell "
                        "the columns apart");
    oneLine(name, "column name");
  }
  for (const std::string &name : classes)
    oneLine(name, "class");
  // Within the limits of the ranges file, and so of a data-set row too.
  ImportRanges names;
  names.classColumn = classColumn;
  for (const std::string &name : featureNames)
    names.features.push_back(FeatureRange{name, 0.0, 0.0});
  names.classes = classes;
  CheckRangesWritable(names);
}

std::string LimitText(int64_t numbers, int64_t limit) {
  return "the import would hold " + std::to_string(numbers) +
         " numbers (rows x (features + classes)), more than the limit of " + std::to_string(limit);
}

// Builds the tables of one import from records handed in one at a time. The
// values are kept as numbers, per class in the order they come, so that each
// class's table can be built and its values released in turn: the text is
// never held, and the values and the tables overlap by about one class.
class ImportBuilder {
public:
  // eachRow: refuse the row that passes the number limit, rather than the
  // whole table once it has been read (which is then already in memory).
  ImportBuilder(const std::vector<std::string> &header, const ImportRequest &request, bool eachRow)
      : request_(request), eachRow_(eachRow) {
    header_.header = header;
    const Columns columns = ChooseColumns(header_, request);
    classColumn_ = columns.classColumn;
    features_ = columns.features;
    // With the two classes an import needs at least, too wide for a ranges
    // file: refused before a row is read.
    if (!request.reuse && features_.size() + 2 > ranges_limits::kMaxColumns) {
      throw ImportError(std::to_string(features_.size()) +
                        " features and at least 2 classes, more than the " +
                        std::to_string(ranges_limits::kMaxColumns) +
                        " columns a ranges file and a data-set row hold; choose fewer with "
                        "--features");
    }
    if (request.reuse) {
      for (const std::string &name : request.reuse->classes)
        ClassOf(name);
      encoder_ =
          std::make_unique<RowEncoder>(request.reuse->features, features_, header, request.missing);
      width_ = request.reuse->features.size();
    } else {
      std::vector<std::string> names;
      for (int f : features_)
        names.push_back(header[f]);
      learner_ = std::make_unique<ColumnLearner>(names, request.categorical, request.missing);
      learner_->SetClassHint(ClassHint(request, header[classColumn_]));
      NoteClassLikeFeature(request, header, columns, classNotes_);
      width_ = features_.size();
    }
  }

  void Add(const std::vector<std::string> &fields, int line) {
    if (fields.size() != header_.header.size())
      throw FieldCountError(line, fields.size(), header_.header.size());
    const std::string at = "line " + std::to_string(line) + ": ";
    int missing = 0;
    cells_.resize(width_);
    if (encoder_) {
      missing = encoder_->Encode(fields, line, cells_.data());
    } else {
      codes_.resize(width_);
      learner_->Read(fields, features_, line, cells_.data(), codes_.data());
      for (size_t c = 0; c < width_; ++c)
        missing += std::isnan(cells_[c]) && codes_[c] < 0 ? 1 : 0;
    }
    const std::string &label = fields[classColumn_];
    ++rows_;
    if (label.empty() || IsMissingMark(label, request_.missing)) {
      ++skipped_;
      return;
    }
    missing_ += missing;
    if (request_.reuse && index_.find(label) == index_.end()) {
      const std::string unknown = at + "class " + QuotedField(label) + " is not in the ranges file";
      if (eachRow_)
        throw ImportError(unknown);
      if (unknown_.empty())
        unknown_ = unknown;
      return;
    }
    ClassRows &rows = classes_[ClassOf(label)];
    rows.values.insert(rows.values.end(), cells_.begin(), cells_.end());
    if (learner_)
      KeepCodes(rows);
    if (rows.count++ == 0)
      rows.firstLine = line;
    const int64_t numbers = Numbers();
    if (eachRow_ && numbers > request_.maxNumbers)
      throw ImportError(at + LimitText(numbers, request_.maxNumbers) + "; refused at this row");
  }

  ImportResult Finish() {
    ImportResult result;
    result.rows = rows_;
    result.skipped = skipped_;
    result.missing = missing_;
    if (rows_ == skipped_)
      throw ImportError("no row has a class value (every one of column \"" +
                        header_.header[classColumn_] + "\" is missing)");
    std::vector<FeatureRange> inputs;
    if (learner_) {
      inputs = learner_->Finish();
      result.notes = learner_->Notes();
      result.notes.insert(result.notes.begin(), classNotes_.begin(), classNotes_.end());
    }
    ImportRanges &ranges = result.ranges;
    ranges.classColumn = header_.header[classColumn_];
    std::vector<std::string> columnNames;
    for (int f : features_)
      columnNames.push_back(header_.header[f]);
    // Classes in output order: sorted, or as the reused ranges list them.
    std::vector<int> order(classes_.size());
    for (size_t k = 0; k < order.size(); ++k)
      order[k] = static_cast<int>(k);
    if (request_.reuse) {
      ranges.classes = request_.reuse->classes;
      ranges.features = request_.reuse->features;
    } else {
      std::vector<std::string> seen;
      for (const ClassRows &c : classes_)
        seen.push_back(c.name);
      ranges.classes = SortedClassNames(seen);
      std::map<std::string, int> indexOf;
      for (size_t k = 0; k < classes_.size(); ++k)
        indexOf[classes_[k].name] = static_cast<int>(k);
      for (size_t k = 0; k < order.size(); ++k)
        order[k] = indexOf.at(ranges.classes[k]);
      CheckNamesForRanges(header_.header, columnNames, ranges.classColumn, ranges.classes);
    }
    if (Numbers() > request_.maxNumbers)
      throw ImportError(LimitText(Numbers(), request_.maxNumbers));
    if (!unknown_.empty())
      throw ImportError(unknown_);
    const int numClasses = static_cast<int>(ranges.classes.size());

    if (request_.reuse) {
      result.unseenWarning = encoder_->UnseenWarning();
      int64_t kept = 0;
      for (const ClassRows &c : classes_)
        kept += c.count;
      result.test = std::make_unique<Data>(static_cast<int32_t>(kept), static_cast<int32_t>(width_),
                                           numClasses, false);
      for (int k = 0; k < numClasses; ++k) {
        ClassRows &c = classes_[order[k]];
        result.clipped += Scale(ranges.features, c.values);
        for (int r = 0; r < c.count; ++r)
          AppendTo(*result.test, c, r, k, numClasses);
        result.testRowsPerClass.push_back(c.count);
        Release(c);
      }
      return result;
    }

    if (numClasses < 2) {
      throw ImportError("only one class (" + QuotedField(ranges.classes[0]) + ") in column " +
                        QuotedField(ranges.classColumn) + "; a classifier needs at least two");
    }
    std::vector<std::vector<int>> rowsOfClass(order.size());
    for (size_t k = 0; k < order.size(); ++k) {
      const ClassRows &c = classes_[order[k]];
      if (c.count < 2) {
        throw ImportError("line " + std::to_string(c.firstLine) + ": class " + QuotedField(c.name) +
                          " has only this one row; every class needs at least two");
      }
      rowsOfClass[k].resize(static_cast<size_t>(c.count));
      for (int r = 0; r < c.count; ++r)
        rowsOfClass[k][r] = r;
    }
    const std::vector<ClassSplit> splits =
        SplitClasses(rowsOfClass, request_.holdout, request_.seed);
    rowsOfClass.clear();
    // The columns of categories become an input per category.
    for (const FeatureRange &input : inputs) {
      if (input.categorical && input.category.find_first_of("\t\r\n") != std::string::npos)
        throw ImportError("category \"" + input.category + "\" of column \"" + input.column +
                          "\" holds a tab or a line break, which the ranges file cannot hold");
    }
    const size_t columns = width_;
    width_ = inputs.size();
    const size_t width = width_;
    if (Numbers() > request_.maxNumbers)
      throw ImportError(LimitText(Numbers(), request_.maxNumbers));
    if (std::any_of(inputs.begin(), inputs.end(),
                    [](const FeatureRange &input) { return input.categorical; })) {
      for (ClassRows &c : classes_) {
        std::vector<double> wide(static_cast<size_t>(c.count) * width);
        std::vector<int32_t> codes(columns, -1);
        for (size_t r = 0; r < static_cast<size_t>(c.count); ++r) {
          for (size_t f = 0; f < columns; ++f)
            codes[f] = c.codes[f].empty() ? -1 : c.codes[f][r];
          learner_->Expand(&c.values[r * columns], codes.data(), &wide[r * width]);
        }
        c.values.swap(wide);
        decltype(c.codes)().swap(c.codes);
      }
    }
    // The scaling is part of what training learns: fitted on the held-out rows
    // too, it would make their accuracy look better than new data will see.
    // Missing values (NaN) are passed over.
    ranges.features = inputs;
    std::vector<char> seen(width, 0);
    for (size_t k = 0; k < splits.size(); ++k) {
      const double *values = classes_[order[k]].values.data();
      for (int r : splits[k].training) {
        const double *row = values + static_cast<size_t>(r) * width;
        for (size_t f = 0; f < width; ++f) {
          FeatureRange &range = ranges.features[f];
          if (std::isnan(row[f]) || range.categorical)
            continue;
          if (!seen[f])
            range.min = range.max = row[f];
          seen[f] = 1;
          if (row[f] < range.min)
            range.min = row[f];
          if (row[f] > range.max)
            range.max = row[f];
        }
      }
    }
    for (size_t f = 0; f < width; ++f) {
      if (!seen[f] && !ranges.features[f].categorical)
        throw ImportError(MissingColumnText(ranges.features[f].name));
    }
    if (request_.rangeFit == RangeFit::kRobust)
      result.clippedTraining = FitRobustRanges(ranges.features, splits, order);
    size_t tests = 0;
    for (const ClassSplit &split : splits)
      tests += split.test.size();
    if (tests > 0)
      result.test = std::make_unique<Data>(static_cast<int32_t>(tests), static_cast<int32_t>(width),
                                           numClasses, false);
    for (size_t k = 0; k < splits.size(); ++k) {
      ClassRows &c = classes_[order[k]];
      result.clipped += Scale(ranges.features, c.values);
      auto table = std::make_unique<Data>(static_cast<int32_t>(splits[k].training.size()),
                                          static_cast<int32_t>(width), numClasses, false);
      for (int r : splits[k].training)
        AppendTo(*table, c, r, static_cast<int>(k), numClasses);
      for (int r : splits[k].test)
        AppendTo(*result.test, c, r, static_cast<int>(k), numClasses);
      result.training.push_back(std::move(table));
      result.testRowsPerClass.push_back(static_cast<int>(splits[k].test.size()));
      Release(c);
    }
    return result;
  }

private:
  struct ClassRows {
    std::string name;
    std::vector<double> values; // count rows of the chosen features, unscaled until Finish
    // Per column, the category codes (ColumnLearner) of its rows, until
    // Finish; none for a column of numbers with too many values to be
    // categories, which would otherwise hold half as much again as the values.
    std::vector<std::vector<int32_t>> codes;
    int count = 0;
    int firstLine = 0;
  };

  size_t ClassOf(const std::string &label) {
    const auto found = index_.find(label);
    if (found != index_.end())
      return found->second;
    index_.emplace(label, classes_.size());
    classes_.push_back(ClassRows{label, {}, {}, 0, 0});
    return classes_.size() - 1;
  }

  // Narrows every numeric input's range to the robust one of its training
  // values; returns how many training values fall outside and will be clipped.
  long FitRobustRanges(std::vector<FeatureRange> &features, const std::vector<ClassSplit> &splits,
                       const std::vector<int> &order) const {
    const size_t width = features.size();
    long outside = 0;
    std::vector<double> column;
    for (size_t f = 0; f < width; ++f) {
      if (features[f].categorical)
        continue;
      column.clear();
      for (size_t k = 0; k < splits.size(); ++k) {
        const double *values = classes_[order[k]].values.data();
        for (int r : splits[k].training)
          column.push_back(values[static_cast<size_t>(r) * width + f]);
      }
      FitRobustRange(features[f], column);
      for (double v : column)
        outside += v < features[f].min || v > features[f].max ? 1 : 0;
    }
    return outside;
  }

  int64_t Numbers() const { return rows_ * static_cast<int64_t>(width_ + classes_.size()); }

  static long Scale(const std::vector<FeatureRange> &ranges, std::vector<double> &values) {
    long clipped = 0;
    const size_t width = ranges.size();
    for (size_t i = 0; i < values.size(); ++i) {
      bool outside = false;
      values[i] = ScaleFeature(ranges[i % width], values[i], outside);
      if (outside)
        ++clipped;
    }
    return clipped;
  }

  void AppendTo(Data &table, const ClassRows &c, int r, int k, int numClasses) const {
    table.AppendRow(c.values.data() + static_cast<size_t>(r) * width_,
                    OneHot(k, numClasses).data());
  }

  // The row's codes, for the columns that may still be categories; a column
  // that has just passed kMaxCategories values drops the codes it kept.
  void KeepCodes(ClassRows &rows) {
    rows.codes.resize(width_);
    dropped_.resize(width_, 0);
    for (size_t c = 0; c < width_; ++c) {
      if (learner_->KeepsCodes(c)) {
        rows.codes[c].push_back(codes_[c]);
      } else if (!dropped_[c]) {
        dropped_[c] = 1;
        for (ClassRows &other : classes_)
          if (other.codes.size() > c)
            std::vector<int32_t>().swap(other.codes[c]);
      }
    }
  }

  static void Release(ClassRows &c) {
    std::vector<double>().swap(c.values);
    decltype(c.codes)().swap(c.codes);
  }

  const ImportRequest &request_;
  const bool eachRow_;
  CsvTable header_; // the header only, for the column choice
  int classColumn_ = -1;
  std::vector<int> features_;
  size_t width_ = 0; // values per row: the columns, then (after Finish's expansion) the inputs
  std::unique_ptr<ColumnLearner> learner_; // a new import
  std::unique_ptr<RowEncoder> encoder_;    // an import through reused ranges
  std::vector<std::string> classNotes_;
  std::vector<ClassRows> classes_; // in the order first seen (reused: the ranges' order)
  std::unordered_map<std::string, size_t> index_;
  int64_t rows_ = 0;
  long skipped_ = 0;
  long missing_ = 0;
  std::vector<double> cells_; // the row being read
  std::vector<int32_t> codes_;
  std::vector<char> dropped_; // per column: its codes are no longer kept
  std::string unknown_;       // the first row of a class the reused ranges lack
};

void CheckHoldout(const ImportRequest &request) {
  if (!(request.holdout >= 0.0 && request.holdout < 1.0)) {
    throw ImportError("the hold-out fraction must be at least 0 and below 1");
  }
}

} // namespace

std::unique_ptr<Data> MakeClassTable(const std::vector<int> &rows,
                                     const std::vector<std::vector<double>> &scaled,
                                     const std::vector<int> &classOf, int numClasses) {
  auto table = std::make_unique<Data>(static_cast<int32_t>(rows.size()),
                                      static_cast<int32_t>(scaled.at(0).size()), numClasses, false);
  for (int r : rows)
    table->AppendRow(scaled[r].data(), OneHot(classOf[r], numClasses).data());
  return table;
}

namespace {

// The label's value when the whole label is a finite decimal number.
bool NumberOfLabel(const std::string &label, double &value) {
  if (label.empty() || std::isspace(static_cast<unsigned char>(label[0])))
    return false;
  char *end = nullptr;
  value = std::strtod(label.c_str(), &end);
  return end == label.c_str() + label.size() && std::isfinite(value);
}

} // namespace

std::vector<std::string> SortedClassNames(std::vector<std::string> labels) {
  std::sort(labels.begin(), labels.end());
  labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
  std::vector<double> values(labels.size());
  for (size_t k = 0; k < labels.size(); ++k) {
    if (!NumberOfLabel(labels[k], values[k]))
      return labels;
  }
  // Equal values ("1" and "1.0") stay distinct classes, in text order.
  std::vector<size_t> order(labels.size());
  for (size_t k = 0; k < order.size(); ++k)
    order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return values[a] < values[b]; });
  std::vector<std::string> sorted;
  sorted.reserve(labels.size());
  for (size_t k : order)
    sorted.push_back(std::move(labels[k]));
  return sorted;
}

std::vector<double> OneHot(int k, int n) {
  std::vector<double> v(static_cast<size_t>(n), 0.0);
  v.at(static_cast<size_t>(k)) = 1.0;
  return v;
}

double ReadFeatureField(const std::string &cell, const std::string &column, int line,
                        const std::vector<std::string> &missing) {
  if (IsMissingMark(cell, missing))
    return std::numeric_limits<double>::quiet_NaN();
  return ReadFeatureField(cell, column, line);
}

double ReadFeatureField(const std::string &cell, const std::string &column, int line) {
  double value = 0.0;
  if (cell.find_first_not_of(" \t") == std::string::npos) {
    throw ImportError("line " + std::to_string(line) + ": missing value in column " +
                      QuotedField(column));
  }
  if (!ParseFeatureValue(cell, value)) {
    throw ImportError("line " + std::to_string(line) + ": " + QuotedField(cell) + " in column " +
                      QuotedField(column) + " is not a number");
  }
  return value;
}

double ReadFeatureCell(const CsvTable &csv, size_t row, int column) {
  return ReadFeatureField(csv.rows[row][column], csv.header[column], csv.rowLines[row]);
}

LabelledRows ReadLabelledRows(const CsvTable &csv, const ImportRequest &request) {
  if (csv.rows.empty())
    throw NoDataRows();
  LabelledReader reader(csv.header, ChooseColumns(csv, request), request);
  // Read every value before anything is scaled, so that a bad cell is
  // reported with its line whatever the options.
  for (size_t r = 0; r < csv.rows.size(); ++r)
    reader.Add(csv.rows[r], csv.rowLines[r]);
  return reader.Finish();
}

LabelledRows ReadLabelledRows(std::istream &in, char separator, const ImportRequest &request) {
  CsvRecords records(in, separator);
  CsvTable header; // the header only, for the column choice
  records.Header(header.header, header.headerLine);
  // Failures come in the order of the table version after ReadCsv: faults of
  // the text anywhere in the file first, then the column choice, then the
  // first bad cell. The first of the later kinds waits for the end of the text.
  std::exception_ptr failure;
  std::unique_ptr<LabelledReader> reader;
  try {
    reader =
        std::make_unique<LabelledReader>(header.header, ChooseColumns(header, request), request);
  } catch (const ImportError &) {
    failure = std::current_exception();
  }
  std::vector<std::string> fields;
  int line = 0;
  bool any = false;
  while (records.Next(fields, line)) {
    if (fields.size() != header.header.size())
      throw FieldCountError(line, fields.size(), header.header.size());
    any = true;
    if (failure)
      continue;
    try {
      reader->Add(fields, line);
    } catch (const ImportError &) {
      failure = std::current_exception();
      reader.reset(); // the rows read so far are of no more use
    }
  }
  if (!any)
    throw NoDataRows();
  if (failure)
    std::rethrow_exception(failure);
  return reader->Finish();
}

ImportResult ImportCsv(const CsvTable &csv, const ImportRequest &request) {
  CheckHoldout(request);
  if (csv.rows.empty())
    throw NoDataRows();
  ImportBuilder builder(csv.header, request, false);
  for (size_t r = 0; r < csv.rows.size(); ++r)
    builder.Add(csv.rows[r], csv.rowLines[r]);
  return builder.Finish();
}

ImportResult ImportCsv(std::istream &in, char separator, const ImportRequest &request) {
  CheckHoldout(request);
  CsvRecords records(in, separator);
  std::vector<std::string> header;
  int line = 0;
  records.Header(header, line);
  ImportBuilder builder(header, request, true);
  std::vector<std::string> fields;
  bool any = false;
  while (records.Next(fields, line)) {
    builder.Add(fields, line);
    any = true;
  }
  if (!any)
    throw NoDataRows();
  return builder.Finish();
}

} // namespace kestrane
