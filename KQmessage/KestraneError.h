#ifndef KESTRANE_KQMESSAGE_KESTRANEERROR_H
#define KESTRANE_KQMESSAGE_KESTRANEERROR_H

// The one family of failures the library raises. Every front end turns a
// failure into text with FailureReport (the programs) or FailureLine (Python),
// so the wording of a failure is decided once, by the failure's own class.
//
//   TException             argument and null-pointer errors of library operations
//   FileTools::Error       the text of a network or data-set file
//   TKQstructure::Error    a malformed KQML value
//   ImportError            a CSV file, a ranges file or an import request
//   TSettingError          a setting outside what a run can use; names the setting
//   TRunError              a run refused or failed as a whole (no rows, ...)
//   TDivergedError         a training whose error or weights stopped being finite numbers
//
// Out of memory (std::bad_alloc) is reported as "out of memory".

#include <exception>
#include <string>

namespace kestrane {

class TKestraneError : public std::exception {
public:
  // What the programs print for this failure, without the final line end. One
  // line for every class but TException, which prints its three.
  virtual std::string Report() const { return what(); }
  // The same on one line.
  virtual std::string Line() const { return Report(); }
};

// A failure whose whole content is one message.
class TMessageError : public TKestraneError {
public:
  explicit TMessageError(std::string message) : message_(std::move(message)) {}
  const char *what() const noexcept override { return message_.c_str(); }

private:
  std::string message_;
};

// The settings a run takes, named once here; every front end names them in
// its own words (a tool option, a Python parameter, a parameter-file key).
enum class Setting {
  kRules,
  kInputMFs,
  kOutputMFs,
  kWeightRange,
  kEpochs,
  kChangeAfter,
  kLearningRate,
  kMomentum,
  kBatch,
  kExamples,
  kSeed,
  kLearnCentres,
};

// A setting that a run cannot use. The message says what is wrong with the
// value and does not name the setting: the front end puts its own name first.
class TSettingError : public TMessageError {
public:
  TSettingError(Setting setting, std::string message)
      : TMessageError(std::move(message)), setting_(setting) {}
  Setting GetSetting() const { return setting_; }

private:
  Setting setting_;
};

// A run refused or failed as a whole.
class TRunError : public TMessageError {
public:
  using TMessageError::TMessageError;
};

// A front end's name of each setting ("--learning-rate", "learning_rate").
using SettingNamer = std::string (*)(Setting);
// The settings' names in plain words ("learning rate").
std::string PlainSettingName(Setting setting);

// A training that ran away: "Training diverged: " + `what` + " (try a smaller
// learning rate or momentum)" + `after`, the two settings in the words of the
// front end that reports it (FailureReport's namer); what() has them in
// plain words.
class TDivergedError : public TRunError {
public:
  explicit TDivergedError(std::string what, std::string after = "");
  std::string Wording(SettingNamer namer) const;

private:
  std::string what_;
  std::string after_;
};

// The text the programs print for the failure `failure` (see Report); any
// exception outside the family reads as its what(). A TSettingError's message
// follows its setting's name as `namer` gives it; a TDivergedError names its
// settings the same way.
std::string FailureReport(const std::exception_ptr &failure, SettingNamer namer = PlainSettingName);
// The same on one line (see Line).
std::string FailureLine(const std::exception_ptr &failure, SettingNamer namer = PlainSettingName);

} // namespace kestrane

#endif
