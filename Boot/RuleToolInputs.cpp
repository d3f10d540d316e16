#include "Boot/RuleToolInputs.h"

#include "Boot/FiniteChecks.h"
#include "Boot/ParameterFile.h"
#include "Boot/Wording.h"
#include "DataObject/Data.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "FileHandler/ParseTools.h"
#include "FileHandler/SafeSave.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/KestraneError.h"
#include "Vemo/TVemo.h"

#include <sys/stat.h>

#include <fstream>
#include <memory>

namespace kestrane {

FuzzyNetworkFile LoadFuzzyNetwork(const std::string &file) {
  FuzzyNetworkFile loaded;
  FileTools tools;
  try {
    loaded.owner = tools.LoadNetwork(file.c_str());
  } catch (const FileTools::Error &e) {
    throw TRunError(file + ": " + e.GetMessage());
  }
  loaded.network = dynamic_cast<TVemo *>(loaded.owner.get());
  if (loaded.network == nullptr || loaded.network->numLayers != TVemo::kNumLayers ||
      loaded.network->GetConditionLayer() == nullptr ||
      loaded.network->GetOutputLayer() == nullptr) {
    throw TRunError(file + ": not a fuzzy (Vemo) network with condition and output layers");
  }
  return loaded;
}

ImportRanges LoadRangesFile(const std::string &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw TRunError("Unable to open file " + file);
  RequireNoSetJournal(file);
  try {
    return ReadRanges(in);
  } catch (const ImportError &e) {
    throw TRunError(file + ": " + e.what());
  }
}

void CheckRangesFit(const ImportRanges &ranges, TVemo &network, const std::string &networkFile) {
  const int I = network.GetNumInputs();
  const int O = network.GetNumOutputs();
  if (static_cast<int>(ranges.features.size()) != I) {
    throw TRunError("the ranges file names " + std::to_string(ranges.features.size()) +
                    " features, " + networkFile + " has " + std::to_string(I) + " inputs");
  }
  if (static_cast<int>(ranges.classes.size()) != O) {
    throw TRunError("the ranges file names " + std::to_string(ranges.classes.size()) +
                    " classes, " + networkFile + " has " + std::to_string(O) + " outputs");
  }
}

ClassRows ReadClassRowsCsv(const std::string &file, const ImportRanges &ranges,
                           const std::vector<std::string> &missingMarks) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw TRunError("Unable to open file " + file);
  ImportRequest request;
  request.reuse = &ranges;
  request.missing = missingMarks;
  ImportResult result;
  try {
    result = ImportCsv(ReadCsv(in, ','), request);
  } catch (const ImportError &e) {
    throw TRunError(file + ": " + e.what());
  }
  const Data &table = *result.test;
  ClassRows rows;
  rows.inputs = table.MbrNdxInputs;
  for (int32_t r = 0; r < table.MbrNdxDataRows; ++r) {
    const double *in = table.InputSlot(r);
    const double *target = table.OutputSlot(r);
    rows.values.insert(rows.values.end(), in, in + table.MbrNdxInputs);
    int expected = 0;
    for (int k = 0; k < table.MbrNdxOutputs; ++k) {
      if (target[k] == 1.0)
        expected = k;
    }
    rows.classes.push_back(expected);
  }
  if (result.skipped > 0) {
    std::string warning = SkippedWarning(result.skipped, " of " + file);
    warning.pop_back(); // the sink ends the line
    Warn(warning);
  }
  if (result.clipped > 0) {
    std::string warning =
        ClippedWarning(result.clipped, "value", " of " + file + " outside the ranges");
    warning.pop_back(); // the sink ends the line
    Warn(warning);
  }
  return rows;
}

std::unique_ptr<Data> LoadInputOutputDataSet(const std::string &file) {
  FileTools tools;
  std::unique_ptr<Data> table;
  std::unique_ptr<Data> second;
  int32_t code;
  try {
    code = tools.LoadDataSet(file.c_str(), table, second);
  } catch (const FileTools::Error &e) {
    throw TRunError(file + ": " + e.GetMessage());
  }
  if (code == kDataSetCannotOpen)
    throw TRunError("Unable to open file " + file);
  if (code != kDataSetSuccess || !table || second)
    throw TRunError(file + ": not a data-set file of inputs and expected outputs");
  return table;
}

namespace {

// Data-set files open with "[FormatVersion", "[DataSet" or a comment; a CSV
// header that begins so is not one import would have read. Only a regular
// file is looked into: a pipe read twice would lose what the look took.
bool LooksLikeDataSet(const std::string &file) {
  struct stat info {};
  if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw TRunError("Unable to open file " + file);
  int c = in.get();
  while (c == ' ' || c == '\t' || c == '\r' || c == '\n')
    c = in.get();
  return c == '[' || (c == '/' && in.peek() == '*');
}

// Rows of a data-set file of import: inputs already scaled, a 1 in the
// output of the row's class and 0 in the others.
void AppendDataSetRows(const std::string &file, const ImportRanges &ranges, ClassRows &rows) {
  const std::unique_ptr<Data> table = LoadInputOutputDataSet(file);
  const int features = static_cast<int>(ranges.features.size());
  const int classes = static_cast<int>(ranges.classes.size());
  if (table->MbrNdxInputs != features) {
    throw TRunError(file + ": " + std::to_string(table->MbrNdxInputs) +
                    " inputs per row, the ranges file names " + std::to_string(features) +
                    " features");
  }
  if (table->MbrBlnLabels || table->MbrNdxOutputs != classes) {
    throw TRunError(file + ": " + std::to_string(table->MbrNdxOutputs) +
                    " expected outputs per row, the ranges file names " + std::to_string(classes) +
                    " classes");
  }
  const std::string bad = FirstNonFiniteValue(*table);
  if (!bad.empty())
    throw TRunError(file + ": " + bad +
                    "; every value must be a finite number (an input may be "
                    "nan: missing)");
  for (int32_t r = 0; r < table->MbrNdxDataRows; ++r) {
    const double *target = table->OutputSlot(r);
    int expected = -1;
    for (int k = 0; k < classes; ++k) {
      if (target[k] == 1.0 && expected < 0)
        expected = k;
      else if (target[k] != 0.0)
        expected = classes;
    }
    if (expected < 0 || expected == classes) {
      throw TRunError(file + ": row " + std::to_string(r + 1) +
                      " is of no one class (its expected outputs must be 1 for its class and 0 "
                      "for the others)");
    }
    const double *in = table->InputSlot(r);
    rows.values.insert(rows.values.end(), in, in + features);
    rows.classes.push_back(expected);
  }
}

bool IsParameterFile(const std::string &file) {
  return file.size() > 6 && file.compare(file.size() - 6, 6, ".param") == 0;
}

// The class files a parameter file names: the training rows of its import.
std::vector<std::string> ClassFilesOf(const std::string &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw TRunError("Unable to open file " + file);
  RequireNoSetJournal(file);
  RunSettings settings;
  const std::string problem = LoadParameters(in, settings);
  if (!problem.empty())
    throw TRunError(file + ": " + problem);
  if (settings.featureCount > 0) {
    throw TRunError(file + ": its Features line keeps some input columns only; give its "
                           "data-set files instead");
  }
  return settings.dataFiles;
}

} // namespace

ClassRows ReadClassRows(const std::vector<std::string> &files, const ImportRanges &ranges,
                        const std::vector<std::string> &missingMarks) {
  ClassRows rows;
  rows.inputs = static_cast<int>(ranges.features.size());
  for (const std::string &file : files) {
    if (IsParameterFile(file)) {
      for (const std::string &classFile : ClassFilesOf(file))
        AppendDataSetRows(classFile, ranges, rows);
      continue;
    }
    if (LooksLikeDataSet(file)) {
      AppendDataSetRows(file, ranges, rows);
      continue;
    }
    const ClassRows read = ReadClassRowsCsv(file, ranges, missingMarks);
    rows.values.insert(rows.values.end(), read.values.begin(), read.values.end());
    rows.classes.insert(rows.classes.end(), read.classes.begin(), read.classes.end());
  }
  return rows;
}

RuleVocabulary VocabularyOf(const ImportRanges &ranges) {
  RuleVocabulary vocabulary;
  for (const FeatureRange &f : ranges.features) {
    vocabulary.inputNames.push_back(f.name);
    vocabulary.inputMin.push_back(f.min);
    vocabulary.inputMax.push_back(f.max);
    vocabulary.inputColumns.push_back(f.categorical ? f.column : std::string());
    vocabulary.inputCategories.push_back(f.categorical ? f.category : std::string());
  }
  vocabulary.outputNames = ranges.classes;
  vocabulary.classOutputs = true;
  return vocabulary;
}

} // namespace kestrane
