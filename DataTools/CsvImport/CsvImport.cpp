#include "DataTools/CsvImport/CsvImport.h"

#include "DataTools/CsvImport/ClassSplit.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <unordered_map>

namespace kestrane {

namespace {

std::string At(const CsvTable &csv, size_t row) {
  return "line " + std::to_string(csv.rowLines[row]) + ": ";
}

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
  const std::string &classText =
      request.classColumn.empty() && request.reuse ? request.reuse->classColumn : request.classColumn;
  chosen.classColumn = named ? csv.FindColumn(classText) : static_cast<int>(csv.header.size()) - 1;
  std::vector<std::string> names = request.features;
  if (names.empty() && request.reuse) {
    for (const FeatureRange &f : request.reuse->features) names.push_back(f.name);
  }
  if (names.empty()) {
    for (int c = 0; c < static_cast<int>(csv.header.size()); ++c) {
      if (c != chosen.classColumn) chosen.features.push_back(c);
    }
  } else {
    // CsvTable::FindColumn for every name, with the header indexed once: a
    // wide table or a long feature list stays linear.
    std::unordered_map<std::string, int> byName;
    for (int c = 0; c < static_cast<int>(csv.header.size()); ++c) {
      const auto inserted = byName.emplace(csv.header[c], c);
      if (!inserted.second) inserted.first->second = -1;  // ambiguous
    }
    for (const std::string &name : names) {
      const auto found = byName.find(name);
      int column = found != byName.end() ? found->second : ColumnIndex(csv, name);
      if (column < 0) column = csv.FindColumn(name);  // raises the error
      chosen.features.push_back(column);
    }
  }
  std::vector<int> uses(csv.header.size(), 0);
  for (int f : chosen.features) ++uses[f];
  for (int f : chosen.features) {
    if (f == chosen.classColumn) {
      throw ImportError("column \"" + csv.header[f] + "\" is the class column; it cannot be a feature");
    }
    if (uses[f] > 1) throw ImportError("column \"" + csv.header[f] + "\" is chosen twice as a feature");
  }
  if (chosen.features.empty()) throw ImportError("no feature columns (the CSV has only the class column)");
  if (request.reuse && chosen.features.size() != request.reuse->features.size()) {
    throw ImportError(std::to_string(chosen.features.size()) + " features chosen, the ranges file has " +
                      std::to_string(request.reuse->features.size()));
  }
  return chosen;
}

// The ranges file names the columns and classes for a later import of the
// same CSV: a name it cannot hold on one line or cannot find again is refused
// now rather than by that import.
void CheckNamesForRanges(const CsvTable &csv, const LabelledRows &read,
                         const std::vector<std::string> &classes) {
  auto oneLine = [](const std::string &name, const std::string &what) {
    if (name.find_first_of("\t\r\n") != std::string::npos)
      throw ImportError(what + " \"" + name + "\" holds a tab or a line break, which the ranges file cannot hold");
  };
  std::unordered_map<std::string, int> count;
  for (const std::string &name : csv.header) ++count[name];
  std::vector<std::string> used = read.featureNames;
  used.push_back(read.classColumn);
  for (const std::string &name : used) {
    if (count[name] > 1)
      throw ImportError("column name \"" + name +
                        "\" appears more than once in the header; the ranges file could not tell the columns apart");
    oneLine(name, "column name");
  }
  for (const std::string &name : classes) oneLine(name, "class");
}

} // namespace

std::unique_ptr<Data> MakeClassTable(const std::vector<int> &rows,
                                     const std::vector<std::vector<double>> &scaled,
                                     const std::vector<int> &classOf, int numClasses) {
  auto table = std::make_unique<Data>(static_cast<int32_t>(rows.size()),
                                      static_cast<int32_t>(scaled.at(0).size()), numClasses, false);
  for (int r : rows) table->AppendRow(scaled[r].data(), OneHot(classOf[r], numClasses).data());
  return table;
}

std::vector<std::string> SortedClassNames(std::vector<std::string> labels) {
  std::sort(labels.begin(), labels.end());
  labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
  return labels;
}

std::vector<double> OneHot(int k, int n) {
  std::vector<double> v(static_cast<size_t>(n), 0.0);
  v.at(static_cast<size_t>(k)) = 1.0;
  return v;
}

double ReadFeatureCell(const CsvTable &csv, size_t row, int column) {
  const std::string &cell = csv.rows[row][column];
  double value = 0.0;
  if (cell.find_first_not_of(" \t") == std::string::npos) {
    throw ImportError(At(csv, row) + "missing value in column \"" + csv.header[column] + "\"");
  }
  if (!ParseFeatureValue(cell, value)) {
    throw ImportError(At(csv, row) + "\"" + cell + "\" in column \"" + csv.header[column] +
                      "\" is not a number");
  }
  return value;
}

LabelledRows ReadLabelledRows(const CsvTable &csv, const ImportRequest &request) {
  if (csv.rows.empty()) throw ImportError("the CSV file has a header but no data rows");
  const Columns columns = ChooseColumns(csv, request);
  LabelledRows read;
  read.classColumn = csv.header[columns.classColumn];
  for (int f : columns.features) read.featureNames.push_back(csv.header[f]);
  // Read every value before anything is scaled, so that a bad cell is
  // reported with its line whatever the options.
  read.values.resize(csv.rows.size());
  read.labels.resize(csv.rows.size());
  for (size_t r = 0; r < csv.rows.size(); ++r) {
    for (int f : columns.features) read.values[r].push_back(ReadFeatureCell(csv, r, f));
    read.labels[r] = csv.rows[r][columns.classColumn];
    if (read.labels[r].empty()) throw ImportError(At(csv, r) + "missing class value");
  }
  return read;
}

ImportResult ImportCsv(const CsvTable &csv, const ImportRequest &request) {
  if (!(request.holdout >= 0.0 && request.holdout < 1.0)) {
    throw ImportError("the hold-out fraction must be at least 0 and below 1");
  }
  LabelledRows read = ReadLabelledRows(csv, request);
  std::vector<std::vector<double>> &raw = read.values;
  const std::vector<std::string> &classText = read.labels;

  ImportResult result;
  ImportRanges &ranges = result.ranges;
  ranges.classColumn = read.classColumn;
  if (request.reuse) {
    ranges.classes = request.reuse->classes;
    ranges.features = request.reuse->features;
  } else {
    ranges.classes = SortedClassNames(classText);
    CheckNamesForRanges(csv, read, ranges.classes);
  }
  // One-hot outputs multiply: a short file of many classes must not ask for gigabytes.
  const int64_t numbers = static_cast<int64_t>(csv.rows.size()) *
                          static_cast<int64_t>(read.featureNames.size() + ranges.classes.size());
  if (numbers > kMaxImportNumbers) {
    throw ImportError("the import would hold " + std::to_string(numbers) +
                      " numbers (rows x (features + classes)), more than the limit of " +
                      std::to_string(kMaxImportNumbers));
  }
  std::map<std::string, int> classIndex;
  for (size_t k = 0; k < ranges.classes.size(); ++k) classIndex[ranges.classes[k]] = static_cast<int>(k);
  const int numClasses = static_cast<int>(ranges.classes.size());

  std::vector<int> classOf(csv.rows.size());
  std::vector<std::vector<int>> rowsOfClass(ranges.classes.size());
  for (size_t r = 0; r < csv.rows.size(); ++r) {
    const auto found = classIndex.find(classText[r]);
    if (found == classIndex.end()) {
      throw ImportError(At(csv, r) + "class \"" + classText[r] + "\" is not in the ranges file");
    }
    classOf[r] = found->second;
    rowsOfClass[found->second].push_back(static_cast<int>(r));
  }

  std::vector<std::vector<double>> &scaled = raw;
  if (request.reuse) {
    result.clipped = ScaleRows(ranges.features, scaled);
    std::vector<int> all;
    result.testRowsPerClass.assign(ranges.classes.size(), 0);
    for (size_t k = 0; k < rowsOfClass.size(); ++k) {
      all.insert(all.end(), rowsOfClass[k].begin(), rowsOfClass[k].end());
      result.testRowsPerClass[k] = static_cast<int>(rowsOfClass[k].size());
    }
    result.test = MakeClassTable(all, scaled, classOf, numClasses);
    return result;
  }

  if (numClasses < 2) {
    throw ImportError("only one class (\"" + ranges.classes[0] + "\") in column \"" +
                      ranges.classColumn + "\"; a classifier needs at least two");
  }
  for (size_t k = 0; k < rowsOfClass.size(); ++k) {
    if (rowsOfClass[k].size() < 2) {
      throw ImportError(At(csv, rowsOfClass[k][0]) + "class \"" + ranges.classes[k] +
                        "\" has only this one row; every class needs at least two");
    }
  }
  const std::vector<ClassSplit> splits = SplitClasses(rowsOfClass, request.holdout, request.seed);
  // The scaling is part of what training learns: fitted on the held-out rows
  // too, it would make their accuracy look better than new data will see.
  {
    std::vector<std::vector<double>> trainingRows;
    for (const ClassSplit &split : splits) {
      for (int r : split.training) trainingRows.push_back(raw[r]);
    }
    ranges.features = ComputeRanges(read.featureNames, trainingRows);
  }
  result.clipped = ScaleRows(ranges.features, scaled);
  std::vector<int> test;
  for (const ClassSplit &split : splits) {
    result.training.push_back(MakeClassTable(split.training, scaled, classOf, numClasses));
    test.insert(test.end(), split.test.begin(), split.test.end());
    result.testRowsPerClass.push_back(static_cast<int>(split.test.size()));
  }
  if (!test.empty()) result.test = MakeClassTable(test, scaled, classOf, numClasses);
  return result;
}

} // namespace kestrane
