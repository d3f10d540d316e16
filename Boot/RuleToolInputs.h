#ifndef KESTRANE_BOOT_RULETOOLINPUTS_H
#define KESTRANE_BOOT_RULETOOLINPUTS_H

// What the rules and simplify commands read: a fuzzy network file, the
// ranges file of the import and, optionally, a CSV file of labelled rows
// scaled through those ranges. Failures are TRunErrors naming the file.

#include "DataTools/CsvImport/RangesFile.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/RuleBase.h"
#include "Vemo/RuleRows.h"

#include <memory>
#include <string>

namespace kestrane {

class TVemo;

struct FuzzyNetworkFile {
  std::unique_ptr<TBasicNetwork> owner;
  TVemo *network = nullptr; // the same object
};

FuzzyNetworkFile LoadFuzzyNetwork(const std::string &file);
ImportRanges LoadRangesFile(const std::string &file);
// The ranges must match the network: one input per feature, one output per class.
void CheckRangesFit(const ImportRanges &ranges, TVemo &network, const std::string &networkFile);
// Rows of a CSV file with a header, scaled and encoded as the import did;
// values outside the ranges are clipped, with a warning (KQmessage/Diagnostics.h).
ClassRows ReadClassRowsCsv(const std::string &file, const ImportRanges &ranges);
// Feature names and units, class names, class outputs.
RuleVocabulary VocabularyOf(const ImportRanges &ranges);

} // namespace kestrane

#endif
