#include "Boot/RuleToolInputs.h"

#include "Boot/Wording.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "FileHandler/ParseTools.h"
#include "FileHandler/SafeSave.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/KestraneError.h"
#include "Vemo/TVemo.h"

#include <fstream>

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

ClassRows ReadClassRowsCsv(const std::string &file, const ImportRanges &ranges) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw TRunError("Unable to open file " + file);
  ImportRequest request;
  request.reuse = &ranges;
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
