#ifndef KESTRANE_BOOT_TOOLCOMMON_H
#define KESTRANE_BOOT_TOOLCOMMON_H

// Shared pieces of the kestrane-tool subcommands: the command-line reader, the
// number parsers, the failure guard and the all-or-nothing output files.

#include "Boot/FitPipeline.h"
#include "Boot/Wording.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "FileHandler/SafeSave.h"
#include "KQmessage/KestraneError.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrane {

// A mistake on the command line or a refused request: one line for the user.
class ToolError : public TMessageError {
public:
  using TMessageError::TMessageError;
};

// The tool's option for every setting ("--learning-rate").
std::string OptionName(Setting setting);

// Options as "--name value", "--name=value" or "-o value"; everything else is
// an operand. "--" ends the options.
class ToolArguments {
public:
  // valueOptions take a value, flagOptions do not; "--help"/"-h" are flags always.
  ToolArguments(const std::vector<std::string> &args, const std::set<std::string> &valueOptions,
                const std::set<std::string> &flagOptions, const std::string &command);

  bool Has(const std::string &option) const { return values_.count(option) != 0; }
  // The value of the option, or `fallback` when it was not given.
  std::string Get(const std::string &option, const std::string &fallback = "") const;
  // Raises ToolError when the option is missing.
  std::string Require(const std::string &option) const;
  bool Help() const { return help_; }
  const std::vector<std::string> &Operands() const { return operands_; }

private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> operands_;
  std::string command_;
  bool help_ = false;
};

// Whole decimal numbers only; `what` names the value in the message.
int ParseCount(const std::string &text, const std::string &what, int minimum, int maximum);
// One count for all `n`, or a comma list of exactly n counts.
std::vector<int> ParseCountList(const std::string &text, int n, const std::string &what,
                                int minimum, int maximum);
// The comma-separated parts of `text`, empty ones kept.
std::vector<std::string> SplitList(const std::string &text);
double ParseReal(const std::string &text, const std::string &what);
uint32_t ParseSeed(const std::string &text);
// "balanced" or "proportional".
ClassSampling ParseSampling(const std::string &text, const std::string &what);
// --scaling: "minmax" or "robust".
RangeFit ParseScaling(const std::string &text);

// The --weights value MIN,MAX, MIN <= MAX.
void ParseWeightRange(const std::string &text, double &min, double &max);

// The --na value: the comma list of field texts that mark a missing value
// (an empty part is the empty field); the default marks when not given.
std::vector<std::string> ParseMissingMarks(const ToolArguments &a);
// The columns import and cv read: --class, --features, --na, --categorical, --drop.
ImportRequest ParseColumnChoices(const ToolArguments &a);

// The files of a --data value: a comma list, or one file whose name holds a comma.
std::vector<std::string> DataFileList(const std::string &text);

// The --separator value: one character, or "tab".
char ParseSeparator(const std::string &text);

// Raises ToolError when the folder an output path names does not exist (or
// is not a folder), before any output is made; `option` names the argument.
void RequireOutputFolder(const std::string &path, const std::string &option);

// What eval and predict say when every row gets the same class: more often
// a run that diverged (outputs near 0 whatever the input) than a good fit.
extern const char *const kOneClassWarning;

// Runs a subcommand, turning every failure into its report (FailureReport,
// settings named by their options) on `err` and exit status 1. What the
// library reports meanwhile (KQmessage/Diagnostics.h) goes to `err` too,
// whatever its kind: standard output is for the command's results.
int RunGuarded(const std::function<int()> &command, std::ostream &err);

// The output files of one command, each written through SafeSave and put in
// place together by Commit; whatever is not committed is removed, so a failure
// half-way leaves no partial output behind, and a concurrent run writing the
// same files never leaves a set that is half its and half ours. With a
// journal (SetJournal) a kill during the commit cannot either: the set is
// recovered by SafeSave::Recover.
class PendingFiles {
public:
  explicit PendingFiles(std::string journal = std::string()) : journal_(std::move(journal)) {}
  PendingFiles(const PendingFiles &) = delete;
  PendingFiles &operator=(const PendingFiles &) = delete;
  ~PendingFiles();

  // Starts the save of `finalName` (raising FileTools::Error when it cannot be
  // written) and returns the stream for its contents.
  std::ostream &Add(const std::string &finalName);
  // Puts every file in place; raises FileTools::Error when one fails.
  void Commit();

private:
  std::string journal_;
  std::vector<std::unique_ptr<SafeSave>> saves_;
};

} // namespace kestrane

#endif
