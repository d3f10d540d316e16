#include "Tool/ToolCommon.h"

#include "DataTools/CsvImport/FeatureScaling.h"
#include "FileHandler/ParseTools.h"
#include "FileHandler/SafeSave.h"
#include "KQmessage/Diagnostics.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrane {

ToolArguments::ToolArguments(const std::vector<std::string> &args,
                             const std::set<std::string> &valueOptions,
                             const std::set<std::string> &flagOptions, const std::string &command)
    : command_(command) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    // A lone "-" and negative numbers are operands.
    const bool looksLikeOption = arg.size() > 1 && arg[0] == '-' &&
                                 !std::isdigit(static_cast<unsigned char>(arg[1])) && arg[1] != '.';
    if (optionsEnded || !looksLikeOption) {
      operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      help_ = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    const size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
      inlineValue = true;
    }
    if (valueOptions.count(arg)) {
      if (!inlineValue) {
        if (i + 1 >= args.size())
          throw ToolError("option " + arg + " needs a value");
        value = args[++i];
      }
      values_[arg] = value;
    } else if (flagOptions.count(arg) && !inlineValue) {
      values_[arg] = "";
    } else {
      throw ToolError("unknown option " + arg + " (see kestrane-tool " + command_ + " --help)");
    }
  }
}

std::string ToolArguments::Get(const std::string &option, const std::string &fallback) const {
  const auto found = values_.find(option);
  return found == values_.end() ? fallback : found->second;
}

std::string ToolArguments::Require(const std::string &option) const {
  if (!Has(option)) {
    throw ToolError("option " + option + " is required (see kestrane-tool " + command_ +
                    " --help)");
  }
  return Get(option);
}

int ParseCount(const std::string &text, const std::string &what, int minimum, int maximum) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE ||
      text.find_first_not_of("+-0123456789") != std::string::npos) {
    throw ToolError(what + ": \"" + text + "\" is not a whole number");
  }
  if (value < minimum || value > maximum) {
    throw ToolError(what + " must be from " + std::to_string(minimum) + " to " +
                    std::to_string(maximum) + ", not " + text);
  }
  return static_cast<int>(value);
}

ImportRequest ParseColumnChoices(const ToolArguments &a) {
  ImportRequest request;
  request.classColumn = a.Get("--class");
  if (a.Has("--features"))
    request.features = SplitList(a.Get("--features"));
  request.missing = ParseMissingMarks(a);
  if (a.Has("--categorical"))
    request.categorical = SplitList(a.Get("--categorical"));
  if (a.Has("--drop"))
    request.drop = SplitList(a.Get("--drop"));
  return request;
}

std::vector<std::string> ParseMissingMarks(const ToolArguments &a) {
  if (!a.Has("--na"))
    return DefaultMissingMarks();
  return SplitList(a.Get("--na"));
}

std::vector<std::string> DataFileList(const std::string &text) {
  struct stat info {};
  if (text.find(',') == std::string::npos || stat(text.c_str(), &info) == 0)
    return {text};
  return SplitList(text);
}

std::vector<std::string> SplitList(const std::string &text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    parts.push_back(
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos)
      return parts;
    start = comma + 1;
  }
}

std::vector<int> ParseCountList(const std::string &text, int n, const std::string &what,
                                int minimum, int maximum) {
  std::vector<int> counts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    counts.push_back(ParseCount(
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), what,
        minimum, maximum));
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  if (counts.size() == 1)
    return std::vector<int>(static_cast<size_t>(n), counts[0]);
  if (static_cast<int>(counts.size()) != n) {
    throw ToolError(what + ": " + std::to_string(counts.size()) + " numbers given, " +
                    std::to_string(n) + " needed (or one for all)");
  }
  return counts;
}

double ParseReal(const std::string &text, const std::string &what) {
  char *end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value)) {
    throw ToolError(what + ": \"" + text + "\" is not a number");
  }
  return value;
}

ClassSampling ParseSampling(const std::string &text, const std::string &what) {
  if (text == "balanced")
    return ClassSampling::kBalanced;
  if (text == "proportional")
    return ClassSampling::kProportional;
  throw ToolError(what + ": \"" + text + "\" is neither balanced nor proportional");
}

RangeFit ParseScaling(const std::string &text) {
  if (text == "minmax")
    return RangeFit::kMinMax;
  if (text == "robust")
    return RangeFit::kRobust;
  throw ToolError("--scaling: \"" + text + "\" is neither minmax nor robust");
}

uint32_t ParseSeed(const std::string &text) {
  char *end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || value > 0xFFFFFFFFull ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    throw ToolError("--seed: \"" + text + "\" is not a whole number from 0 to 4294967295");
  }
  return static_cast<uint32_t>(value);
}

void RequireOutputFolder(const std::string &path, const std::string &option) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return; // the working folder
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  struct stat info;
  if (stat(folder.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      throw ToolError(option + ": the folder " + folder + " does not exist");
    return; // anything else the save itself reports
  }
  if (!S_ISDIR(info.st_mode))
    throw ToolError(option + ": " + folder + " is not a folder");
}

const char *const kOneClassWarning =
    "!Warning: the network predicts one class for every row; training may have diverged"
    " \xe2\x80\x94 in batch mode lower LearningRate\n";

void ParseWeightRange(const std::string &text, double &min, double &max) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos)
    throw ToolError("--weights: \"" + text + "\" is not MIN,MAX");
  min = ParseReal(text.substr(0, comma), "--weights minimum");
  max = ParseReal(text.substr(comma + 1), "--weights maximum");
  if (min > max)
    throw ToolError("--weights: the minimum " + text.substr(0, comma) + " exceeds the maximum");
}

char ParseSeparator(const std::string &text) {
  if (text == "tab" || text == "\\t")
    return '\t';
  if (text.size() != 1 || text == "\"" || text == "\n" || text == "\r") {
    throw ToolError("--separator: \"" + text + "\" is not one character (or \"tab\")");
  }
  return text[0];
}

std::string OptionName(Setting setting) {
  switch (setting) {
  case Setting::kRules:
    return "--rules";
  case Setting::kInputMFs:
    return "--input-mfs";
  case Setting::kOutputMFs:
    return "--output-mfs";
  case Setting::kWeightRange:
    return "--weights";
  case Setting::kEpochs:
    return "--epochs";
  case Setting::kChangeAfter:
    return "--change-after";
  case Setting::kLearningRate:
    return "--learning-rate";
  case Setting::kMomentum:
    return "--momentum";
  case Setting::kBatch:
    return "--batch";
  case Setting::kExamples:
    return "--examples";
  case Setting::kSeed:
    return "--seed";
  case Setting::kLearnCentres:
    return "--learn-centres";
  }
  return "setting";
}

int RunGuarded(const std::function<int()> &command, std::ostream &err) {
  // Standard output carries the command's results and nothing else: what the
  // library reports, values it prints beside a failure included, goes to err.
  TStreamDiagnosticSink sink(err);
  TDiagnosticScope scope(sink);
  try {
    return command();
  } catch (...) {
    err << FailureReport(std::current_exception(), OptionName) << "\n";
  }
  return 1;
}

PendingFiles::~PendingFiles() = default;

std::ostream &PendingFiles::Add(const std::string &finalName) {
  saves_.push_back(std::make_unique<SafeSave>(finalName));
  return saves_.back()->Stream();
}

void PendingFiles::Commit() {
  std::vector<SafeSave *> saves;
  for (const auto &save : saves_)
    saves.push_back(save.get());
  SafeSave::CommitTogether(saves, journal_);
}

} // namespace kestrane
