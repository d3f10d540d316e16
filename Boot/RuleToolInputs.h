#ifndef KESTRANE_BOOT_RULETOOLINPUTS_H
#define KESTRANE_BOOT_RULETOOLINPUTS_H

// What the rules, simplify and report commands read: a fuzzy network file,
// the ranges file of the import and, optionally, labelled rows: a CSV file
// scaled through those ranges, or the data-set files import wrote. Failures
// are TRunErrors naming the file.

#include "DataObject/Data.h"
#include "DataTools/CsvImport/RangesFile.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/RuleBase.h"
#include "Vemo/RuleRows.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrane {

class TVemo;

struct FuzzyNetworkFile {
  std::unique_ptr<TBasicNetwork> owner;
  TVemo *network = nullptr; // the same object
};

// A data-set file of inputs and expected outputs, as import writes them
// (TRunError naming the file otherwise).
std::unique_ptr<Data> LoadInputOutputDataSet(const std::string &file);

FuzzyNetworkFile LoadFuzzyNetwork(const std::string &file);
ImportRanges LoadRangesFile(const std::string &file);
// The ranges must match the network: one input per feature, one output per class.
void CheckRangesFit(const ImportRanges &ranges, TVemo &network, const std::string &networkFile);
// Rows of a CSV file with a header, scaled and encoded as the import did;
// values outside the ranges are clipped, with a warning (KQmessage/Diagnostics.h).
ClassRows ReadClassRowsCsv(const std::string &file, const ImportRanges &ranges,
                           const std::vector<std::string> &missingMarks = DefaultMissingMarks());
// The rows of every file in turn. A file that begins as a data-set file does
// ("[" or a comment) is one import wrote through these ranges: a class's
// training rows or the held-out rows, already scaled, one output per class.
// A parameter file (NAME.param) stands for the class files it names: the
// training rows. Any other file is read as CSV.
ClassRows ReadClassRows(const std::vector<std::string> &files, const ImportRanges &ranges,
                        const std::vector<std::string> &missingMarks = DefaultMissingMarks());
// Feature names and units, class names, class outputs.
RuleVocabulary VocabularyOf(const ImportRanges &ranges);

} // namespace kestrane

#endif
