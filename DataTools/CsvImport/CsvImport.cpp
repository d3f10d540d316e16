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
  std::string classText = request.classColumn;
  if (classText.empty() && request.reuse) classText = request.reuse->classColumn;
  chosen.classColumn = classText.empty() ? static_cast<int>(csv.header.size()) - 1
                                         : csv.FindColumn(classText);
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
void CheckNamesForRanges(const CsvTable &csv, const Columns &columns,
                         const std::vector<std::string> &classes) {
  auto oneLine = [](const std::string &name, const std::string &what) {
    if (name.find_first_of("\t\r\n") != std::string::npos)
      throw ImportError(what + " \"" + name + "\" holds a tab or a line break, which the ranges file cannot hold");
  };
  std::unordered_map<std::string, int> count;
  for (const std::string &name : csv.header) ++count[name];
  std::vector<int> used = columns.features;
  used.push_back(columns.classColumn);
  for (int c : used) {
    if (count[csv.header[c]] > 1)
      throw ImportError("column name \"" + csv.header[c] +
                        "\" appears more than once in the header; the ranges file could not tell the columns apart");
    oneLine(csv.header[c], "column name");
  }
  for (const std::string &name : classes) oneLine(name, "class");
}

std::unique_ptr<Data> MakeTable(const std::vector<int> &rows,
                                const std::vector<std::vector<double>> &scaled,
                                const std::vector<int> &classOf, int numClasses) {
  auto table = std::make_unique<Data>(static_cast<int32_t>(rows.size()),
                                      static_cast<int32_t>(scaled.at(0).size()), numClasses, false);
  for (int r : rows) table->AppendRow(scaled[r].data(), OneHot(classOf[r], numClasses).data());
  return table;
}

} // namespace

std::vector<double> OneHot(int k, int n) {
  std::vector<double> v(static_cast<size_t>(n), 0.0);
  v.at(static_cast<size_t>(k)) = 1.0;
  return v;
}

ImportResult ImportCsv(const CsvTable &csv, const ImportRequest &request) {
  if (!(request.holdout >= 0.0 && request.holdout < 1.0)) {
    throw ImportError("the hold-out fraction must be at least 0 and below 1");
  }
  if (csv.rows.empty()) throw ImportError("the CSV file has a header but no data rows");
  const Columns columns = ChooseColumns(csv, request);

  // Read every value before anything is scaled, so that a bad cell is
  // reported with its line whatever the options.
  std::vector<std::vector<double>> raw(csv.rows.size());
  std::vector<std::string> classText(csv.rows.size());
  for (size_t r = 0; r < csv.rows.size(); ++r) {
    for (int f : columns.features) {
      const std::string &cell = csv.rows[r][f];
      double value = 0.0;
      if (cell.find_first_not_of(" \t") == std::string::npos) {
        throw ImportError(At(csv, r) + "missing value in column \"" + csv.header[f] + "\"");
      }
      if (!ParseFeatureValue(cell, value)) {
        throw ImportError(At(csv, r) + "\"" + cell + "\" in column \"" + csv.header[f] +
                          "\" is not a number");
      }
      raw[r].push_back(value);
    }
    classText[r] = csv.rows[r][columns.classColumn];
    if (classText[r].empty()) throw ImportError(At(csv, r) + "missing class value");
  }

  ImportResult result;
  ImportRanges &ranges = result.ranges;
  ranges.classColumn = csv.header[columns.classColumn];
  if (request.reuse) {
    ranges.classes = request.reuse->classes;
    ranges.features = request.reuse->features;
  } else {
    std::vector<std::string> names;
    for (int f : columns.features) names.push_back(csv.header[f]);
    ranges.features = ComputeRanges(names, raw);
    ranges.classes = classText;
    std::sort(ranges.classes.begin(), ranges.classes.end());
    ranges.classes.erase(std::unique(ranges.classes.begin(), ranges.classes.end()),
                         ranges.classes.end());
    CheckNamesForRanges(csv, columns, ranges.classes);
  }
  // One-hot outputs multiply: a short file of many classes must not ask for gigabytes.
  const int64_t numbers = static_cast<int64_t>(csv.rows.size()) *
                          static_cast<int64_t>(columns.features.size() + ranges.classes.size());
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

  std::vector<std::vector<double>> scaled(raw.size());
  for (size_t r = 0; r < raw.size(); ++r) {
    for (size_t f = 0; f < raw[r].size(); ++f) {
      bool clipped = false;
      scaled[r].push_back(ScaleFeature(ranges.features[f], raw[r][f], clipped));
      if (clipped) ++result.clipped;
    }
  }

  if (request.reuse) {
    std::vector<int> all;
    result.testRowsPerClass.assign(ranges.classes.size(), 0);
    for (size_t k = 0; k < rowsOfClass.size(); ++k) {
      all.insert(all.end(), rowsOfClass[k].begin(), rowsOfClass[k].end());
      result.testRowsPerClass[k] = static_cast<int>(rowsOfClass[k].size());
    }
    result.test = MakeTable(all, scaled, classOf, numClasses);
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
  std::vector<int> test;
  for (const ClassSplit &split : splits) {
    result.training.push_back(MakeTable(split.training, scaled, classOf, numClasses));
    test.insert(test.end(), split.test.begin(), split.test.end());
    result.testRowsPerClass.push_back(static_cast<int>(split.test.size()));
  }
  if (!test.empty()) result.test = MakeTable(test, scaled, classOf, numClasses);
  return result;
}

} // namespace kestrane
