#include "Boot/ParameterFile.h"

#include "KQmessage/Diagnostics.h"
#include "KQmessage/TException.h"

#include <cctype>
#include <cstdint>
#include <istream>
#include <sstream>

namespace kestrane {

namespace {

enum class Key {
  None,
  WeightFile,
  DestinationFile,
  DataClasses,
  DataFile,
  Examples,
  Epochs,
  ChangeAfter,
  LearningRate,
  Momentum,
  Batch,
  FeatureCount,
  Features,
  Seed,
  WithReplacement,
  LearnCentres
};

struct KeyName {
  const char *name;
  Key key;
};

const KeyName kKeys[] = {
    {"WeightFile", Key::WeightFile},
    {"DestinationFile", Key::DestinationFile},
    {"#DataClasses", Key::DataClasses},
    {"DataFile", Key::DataFile},
    {"Examples", Key::Examples},
    {"Epochs", Key::Epochs},
    {"ChangeAfter", Key::ChangeAfter},
    {"LearningRate", Key::LearningRate},
    {"Momentum", Key::Momentum},
    {"Batch", Key::Batch},
    {"#Features", Key::FeatureCount},
    {"Features", Key::Features},
    {"Seed", Key::Seed},
    {"WithReplacement", Key::WithReplacement},
    {"LearnCentres", Key::LearnCentres},
};

Key Lookup(const std::string &word, const char *&name) {
  for (const KeyName &k : kKeys) {
    if (strcasecmp(word.c_str(), k.name) == 0) {
      name = k.name;
      return k.key;
    }
  }
  return Key::None;
}

// The reader of one file: one word, one separator, one typed value at a time.
class Reader {
public:
  Reader(std::istream &in, RunSettings &settings, std::vector<std::string> &problems)
      : in_(in), s_(settings), problems_(problems) {}

  std::string Run() {
    std::string word;
    bool tooLong = false;
    while (NextWord(word, tooLong)) {
      if (tooLong)
        return TooLong();
      const char *name = nullptr;
      const Key key = Lookup(word, name);
      if (key == Key::None)
        continue; // a free word
      std::string message = key == Key::Seed ? ReadSeed(word) : ReadSetting(key, name);
      if (!message.empty())
        return message;
    }
    if (dataClassesSeen_) {
      if (s_.dataFiles.size() < static_cast<size_t>(s_.dataClasses) && s_.dataClasses > 0)
        problems_.push_back("Fewer DataFile entries than #DataClasses");
      if (s_.examples.size() < static_cast<size_t>(s_.dataClasses) && s_.dataClasses > 0)
        problems_.push_back("Fewer Examples entries than #DataClasses");
    }
    if (s_.featureCount > 0 && !featuresRead_)
      problems_.push_back("#Features given without a Features line");
    return std::string();
  }

private:
  static std::string TooLong() {
    return "Word longer than " + std::to_string(kMaxParameterWord) +
           " characters in the parameter file";
  }

  // The word ReadSeed looked ahead at, or else the next word of the file.
  bool NextWord(std::string &word, bool &tooLong) {
    if (pending_.empty())
      return ReadWord(word, kMaxParameterWord, tooLong);
    word.swap(pending_);
    pending_.clear();
    tooLong = false;
    return true;
  }

  // Files older than the Seed key use "seed" as a free word ("// fixed seed
  // for tests"), so it is a key only where an integer follows its separator.
  // Otherwise the words read ahead are read again as ordinary words.
  std::string ReadSeed(const std::string &word) {
    std::string token;
    std::string next;
    if (AtValue()) {
      const char separator = static_cast<char>(in_.get());
      const int after = in_.peek();
      const bool alone = after == EOF || std::isspace(after);
      bool tooLong = false;
      const size_t limit = alone ? kMaxParameterWord : kMaxParameterWord - 1;
      if ((!alone || AtValue()) && ReadWord(token, limit, tooLong) && tooLong)
        return TooLong();
      const size_t digit = token.find_first_not_of("+-") == 1 ? 1 : 0;
      if (digit < token.size() && std::isdigit(static_cast<unsigned char>(token[digit]))) {
        std::istringstream value(token);
        if (!(value >> s_.seed))
          return "Value of Seed is not an integer";
        s_.hasSeed = true;
        std::getline(value, pending_); // as if read straight from the file
        return std::string();
      }
      next = alone ? token : separator + token;
    }
    Warn("!Warning: \"" + word +
         "\" is not followed by an integer: read as a word, not as the Seed key");
    pending_ = next;
    return std::string();
  }

  // Reads one white-space delimited word, keeping at most limit characters;
  // tooLong tells whether it had more. False at end of input.
  bool ReadWord(std::string &word, size_t limit, bool &tooLong) {
    word.clear();
    tooLong = false;
    int c = in_.get();
    while (c != EOF && std::isspace(c))
      c = in_.get();
    if (c == EOF)
      return false;
    while (c != EOF && !std::isspace(c)) {
      if (word.size() < limit)
        word += static_cast<char>(c);
      else
        tooLong = true;
      c = in_.get();
    }
    return true;
  }

  // The one separator character before every value.
  bool ReadSeparator() {
    char separator;
    return static_cast<bool>(in_ >> separator);
  }

  std::string Missing(const char *name) { return std::string("No value for ") + name; }

  std::string ReadText(const char *name, size_t limit, std::string &value, const char *what) {
    bool tooLong = false;
    if (!ReadWord(value, limit, tooLong))
      return Missing(name);
    if (tooLong)
      return std::string(name) + " " + what + " longer than " + std::to_string(limit) +
             " characters";
    return std::string();
  }

  // Stream extraction of one value; a failed read is reported instead of retried.
  template <typename T>
  std::string ReadValue(const char *name, T &value, const char *what) {
    in_ >> value;
    if (in_)
      return std::string();
    return std::string("Value of ") + name + " is not " + what;
  }

  std::string ReadInteger(const char *name, int32_t &value) {
    if (!AtValue())
      return Missing(name);
    return ReadValue(name, value, "an integer");
  }

  std::string ReadFloat(const char *name, float &value) {
    if (!AtValue())
      return Missing(name);
    return ReadValue(name, value, "a number");
  }

  // Skips blanks; false when the input ends first.
  bool AtValue() {
    int c = in_.peek();
    while (c != EOF && std::isspace(c)) {
      in_.get();
      c = in_.peek();
    }
    return c != EOF;
  }

  std::string ReadSetting(Key key, const char *name) {
    if (!ReadSeparator())
      return Missing(name);
    std::string word;
    std::string message;
    int32_t number = 0;
    switch (key) {
    case Key::WeightFile:
      message = ReadText(name, kMaxParameterWord, word, "name");
      if (message.empty())
        s_.weightFile = word;
      break;
    case Key::DestinationFile:
      message = ReadText(name, kMaxParameterWord, word, "name");
      if (message.empty())
        s_.destinationFile = word;
      break;
    case Key::DataClasses:
      message = ReadInteger(name, number);
      if (!message.empty())
        break;
      if (dataClassesSeen_) {
        problems_.push_back("#DataClasses given more than once");
        break;
      }
      dataClassesSeen_ = true;
      s_.dataClasses = number;
      break;
    case Key::DataFile:
      message = ReadText(name, kMaxDataFileName, word, "name");
      if (!message.empty())
        break;
      if (!dataClassesSeen_)
        problems_.push_back("DataFile given before #DataClasses");
      else if (s_.dataFiles.size() >= static_cast<size_t>(s_.dataClasses < 0 ? 0 : s_.dataClasses))
        problems_.push_back("More DataFile entries than #DataClasses");
      else
        s_.dataFiles.push_back(word);
      break;
    case Key::Examples:
      message = ReadInteger(name, number);
      if (!message.empty())
        break;
      if (!dataClassesSeen_)
        problems_.push_back("Examples given before #DataClasses");
      else if (s_.examples.size() >= static_cast<size_t>(s_.dataClasses < 0 ? 0 : s_.dataClasses))
        problems_.push_back("More Examples entries than #DataClasses");
      else if (number < 0)
        problems_.push_back("Examples value is negative");
      else
        s_.examples.push_back(number);
      break;
    case Key::Epochs:
      message = ReadInteger(name, s_.epochs);
      break;
    case Key::ChangeAfter:
      message = ReadInteger(name, s_.changeAfter);
      break;
    case Key::LearningRate:
      message = ReadFloat(name, s_.learningRate);
      break;
    case Key::Momentum:
      message = ReadFloat(name, s_.momentum);
      break;
    case Key::Batch:
      message = ReadText(name, kMaxBatchWord, word, "value");
      if (message.empty())
        s_.batch = strcasecmp(word.c_str(), "true") == 0;
      break;
    case Key::WithReplacement:
      message = ReadText(name, kMaxBatchWord, word, "value");
      if (message.empty())
        s_.withReplacement = strcasecmp(word.c_str(), "true") == 0;
      break;
    case Key::LearnCentres:
      message = ReadText(name, kMaxBatchWord, word, "value");
      if (message.empty())
        s_.learnCentres = strcasecmp(word.c_str(), "true") == 0;
      break;
    case Key::FeatureCount:
      message = ReadInteger(name, number);
      if (!message.empty())
        break;
      featureCountSeen_ = true;
      featuresRead_ = false;
      s_.features.clear();
      if (number < 0) {
        problems_.push_back("#Features is negative");
        number = 0;
      }
      s_.featureCount = number;
      break;
    case Key::Features:
      if (!featureCountSeen_) {
        problems_.push_back("Features given before #Features");
        break;
      }
      s_.features.clear();
      for (int32_t i = 0; i < s_.featureCount && message.empty(); ++i) {
        message = ReadInteger(name, number);
        if (!message.empty())
          break;
        if (number < 0 && !negativeFeature_) {
          problems_.push_back("Features holds a negative column");
          negativeFeature_ = true;
        }
        s_.features.push_back(number);
      }
      featuresRead_ = true;
      break;
    case Key::Seed:
    case Key::None:
      break;
    }
    return message;
  }

  std::istream &in_;
  RunSettings &s_;
  std::vector<std::string> &problems_;
  bool dataClassesSeen_ = false;
  bool featureCountSeen_ = false;
  bool featuresRead_ = false;
  bool negativeFeature_ = false;
  std::string pending_;
};

} // namespace

std::string ReadParameters(std::istream &in, RunSettings &settings,
                           std::vector<std::string> &problems) {
  settings = RunSettings();
  return Reader(in, settings, problems).Run();
}

std::string ValidateSettings(const RunSettings &settings) {
  if (strcasecmp(settings.weightFile.c_str(), kNoWeightFile) == 0)
    return "No weight file specified";
  if (settings.dataClasses < 1)
    return "Number of classes not specified or invalid";
  if (settings.epochs < 1)
    return "Number of epochs not specified or invalid";
  if (settings.changeAfter < 1)
    return "Change After not specified or invalid";
  return std::string();
}

std::string LoadParameters(std::istream &in, RunSettings &settings) {
  std::vector<std::string> problems;
  const std::string fatal = ReadParameters(in, settings, problems);
  if (!fatal.empty())
    return fatal;
  const std::string invalid = ValidateSettings(settings);
  if (!invalid.empty())
    return invalid;
  return problems.empty() ? std::string() : problems.front();
}

std::string ParameterKey(Setting setting) {
  switch (setting) {
  case Setting::kEpochs:
    return "Epochs";
  case Setting::kChangeAfter:
    return "ChangeAfter";
  case Setting::kLearningRate:
    return "LearningRate";
  case Setting::kMomentum:
    return "Momentum";
  case Setting::kBatch:
    return "Batch";
  case Setting::kExamples:
    return "Examples";
  case Setting::kSeed:
    return "Seed";
  case Setting::kLearnCentres:
    return "LearnCentres";
  default:
    return PlainSettingName(setting);
  }
}

} // namespace kestrane
