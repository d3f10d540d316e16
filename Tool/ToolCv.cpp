#include "Tool/ToolCv.h"

#include "Boot/CrossValidation.h"
#include "Tool/ToolCommon.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "DataTools/CsvImport/StarterParameters.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <strings.h>

namespace kestrane {

const char *const kToolCvHelp =
    "Usage: kestrane-tool cv FILE.csv [--folds K] [settings]\n"
    "Stratified k-fold cross-validation: the rows of every class are shared out\n"
    "over K folds; each fold in turn is held out while a network is created and\n"
    "trained on the others (the scaling fitted on those rows alone), then the\n"
    "fold is scored. Prints every fold's accuracy and their mean and standard\n"
    "deviation. A setting given as a comma list is tried at every value: every\n"
    "combination is cross-validated and the best mean wins (a tie goes to the\n"
    "smaller network). Prints the create command and parameter settings of the\n"
    "winner, ready to paste after: kestrane-tool import FILE.csv\n"
    "  --folds K            number of folds, 2 or more (default 5)\n"
    "  --seed N             seed of the folds, the network and the training (default 1)\n"
    "  --class, --features, --separator   as for import\n"
    "  --jobs N             folds trained at once, one process each (default: the\n"
    "                       number of processors); the results do not depend on it\n"
    "Network (as for create; each a comma list of values to try):\n"
    "  --rules LIST         (default: the starter rule count that import suggests)\n"
    "  --input-mfs LIST     membership functions of every input (default 3)\n"
    "  --output-mfs LIST    membership functions of every output (default 3)\n"
    "  --weights MIN,MAX    range of the random weights (default -0.5,0.5)\n"
    "Training (as in the parameter file; each a comma list):\n"
    "  --epochs LIST        (default 500)\n"
    "  --change-after LIST  (default 10)\n"
    "  --learning-rate LIST (default 0.1)\n"
    "  --momentum LIST      (default 0.5)\n"
    "  --batch LIST         false or true (default false)\n"
    "Every fold draws, per class, as many rows as its smallest class has for\n"
    "training, as the parameter file of import does.\n";

namespace {

// One setting's values to try, as typed (for the report) and as read.
struct Axis {
  std::string option;
  std::vector<std::string> text;
  std::vector<double> value;
};

Axis CountAxis(const ToolArguments &a, const std::string &option, const std::string &fallback,
               int minimum, int maximum) {
  Axis axis{option, {}, {}};
  for (const std::string &part : SplitList(a.Get(option, fallback))) {
    axis.value.push_back(ParseCount(part, option, minimum, maximum));
    axis.text.push_back(std::to_string(static_cast<int>(axis.value.back())));
  }
  return axis;
}

Axis RealAxis(const ToolArguments &a, const std::string &option, const std::string &fallback) {
  Axis axis{option, {}, {}};
  for (const std::string &part : SplitList(a.Get(option, fallback))) {
    axis.value.push_back(ParseReal(part, option));
    axis.text.push_back(part);
  }
  return axis;
}

Axis BatchAxis(const ToolArguments &a) {
  Axis axis{"--batch", {}, {}};
  for (const std::string &part : SplitList(a.Get("--batch", "false"))) {
    if (strcasecmp(part.c_str(), "true") != 0 && strcasecmp(part.c_str(), "false") != 0) {
      throw ToolError("--batch: \"" + part + "\" is neither true nor false");
    }
    axis.value.push_back(strcasecmp(part.c_str(), "true") == 0 ? 1.0 : 0.0);
    axis.text.push_back(axis.value.back() != 0.0 ? "true" : "false");
  }
  return axis;
}

enum AxisIndex { kRules, kInputMFs, kOutputMFs, kEpochs, kChangeAfter, kRate, kMomentum, kBatch, kAxes };

std::string Percent(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", value);
  return text;
}

struct Outcome {
  std::vector<size_t> pick;  // per axis, the value's index
  std::vector<FoldScore> folds;
  double mean = 0.0;
  double deviation = 0.0;
  long long size = 0;  // weights and centres of the network
};

std::string Describe(const std::vector<Axis> &axes, const std::vector<size_t> &pick) {
  std::string text;
  for (size_t k = 0; k < axes.size(); ++k) {
    text += (k ? ", " : "") + axes[k].option.substr(2) + " " + axes[k].text[pick[k]];
  }
  return text;
}

} // namespace

int ToolCv(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  const ToolArguments a(args,
                        {"--folds", "--seed", "--class", "--features", "--separator", "--jobs",
                         "--rules", "--input-mfs", "--output-mfs", "--weights", "--epochs",
                         "--change-after", "--learning-rate", "--momentum", "--batch"},
                        {}, "cv");
  if (a.Help()) {
    out << kToolCvHelp;
    return 0;
  }
  if (a.Operands().size() != 1) throw ToolError("cv takes one CSV file (see kestrane-tool cv --help)");
  const std::string csvName = a.Operands()[0];
  const int folds = ParseCount(a.Get("--folds", std::to_string(kDefaults.folds)), "--folds", 2, 1000000);
  const uint32_t seed = ParseSeed(a.Get("--seed", DefaultText(Setting::kSeed)));
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  const int jobs = a.Has("--jobs") ? ParseCount(a.Get("--jobs"), "--jobs", 1, 1024)
                                   : static_cast<int>(processors > 0 ? processors : 1);
  double weightMin = kDefaults.weightMin;
  double weightMax = kDefaults.weightMax;
  if (a.Has("--weights")) ParseWeightRange(a.Get("--weights"), weightMin, weightMax);

  ImportRequest request;
  request.classColumn = a.Get("--class");
  if (a.Has("--features")) request.features = SplitList(a.Get("--features"));
  std::ifstream csvIn(csvName, std::ios::binary);
  if (!csvIn) throw ToolError("Unable to open file " + csvName);
  LabelledRows read = ReadLabelledRows(csvIn, ParseSeparator(a.Get("--separator", ",")), request);
  const EncodedClasses classes = EncodeClasses(read.labels);
  const int numClasses = static_cast<int>(classes.names.size());
  const int inputs = static_cast<int>(read.featureNames.size());
  if (numClasses < 2) {
    throw ToolError("only one class (\"" + classes.names[0] + "\") in column \"" + read.classColumn +
                    "\"; a classifier needs at least two");
  }
  std::vector<long> perClass(static_cast<size_t>(numClasses), 0);
  for (int k : classes.classOf) ++perClass[static_cast<size_t>(k)];
  for (int k = 0; k < numClasses; ++k) {
    if (perClass[static_cast<size_t>(k)] < 2) {
      throw ToolError("class \"" + classes.names[static_cast<size_t>(k)] +
                      "\" has only one row; every class needs at least two");
    }
  }
  if (folds > static_cast<long>(read.values.size())) {
    throw ToolError("--folds " + std::to_string(folds) + " exceeds the " +
                    std::to_string(read.values.size()) + " rows");
  }

  std::vector<Axis> axes(kAxes);
  axes[kRules] = CountAxis(a, "--rules", std::to_string(StarterRuleCount(inputs, numClasses)), 1, 100000);
  axes[kInputMFs] = CountAxis(a, "--input-mfs", DefaultText(Setting::kInputMFs), 2, 100000);
  axes[kOutputMFs] = CountAxis(a, "--output-mfs", DefaultText(Setting::kOutputMFs), 2, 100000);
  axes[kEpochs] = CountAxis(a, "--epochs", DefaultText(Setting::kEpochs), 1, 2000000000);
  axes[kChangeAfter] = CountAxis(a, "--change-after", DefaultText(Setting::kChangeAfter), 1, 2000000000);
  axes[kRate] = RealAxis(a, "--learning-rate", DefaultText(Setting::kLearningRate));
  axes[kMomentum] = RealAxis(a, "--momentum", DefaultText(Setting::kMomentum));
  axes[kBatch] = BatchAxis(a);

  // Every combination, the last setting changing fastest.
  std::vector<Outcome> outcomes(1, Outcome{std::vector<size_t>(kAxes, 0), {}, 0.0, 0.0, 0});
  for (int k = kAxes - 1; k >= 0; --k) {
    std::vector<Outcome> grown;
    for (const Outcome &o : outcomes) {
      for (size_t v = 0; v < axes[k].value.size(); ++v) {
        grown.push_back(o);
        grown.back().pick[k] = v;
      }
    }
    outcomes.swap(grown);
  }
  std::sort(outcomes.begin(), outcomes.end(),
            [](const Outcome &x, const Outcome &y) { return x.pick < y.pick; });

  const auto shapeOf = [&](const Outcome &o) {
    NetworkShape shape;
    shape.inputs = inputs;
    shape.outputs = numClasses;
    shape.rules = static_cast<int>(axes[kRules].value[o.pick[kRules]]);
    shape.inputMFs = {static_cast<int>(axes[kInputMFs].value[o.pick[kInputMFs]])};
    shape.outputMFs = {static_cast<int>(axes[kOutputMFs].value[o.pick[kOutputMFs]])};
    shape.weightMin = weightMin;
    shape.weightMax = weightMax;
    shape.seed = seed;
    return shape;
  };
  const auto settingsOf = [&](const Outcome &o) {
    TrainSettings settings;
    settings.epochs = static_cast<int32_t>(axes[kEpochs].value[o.pick[kEpochs]]);
    settings.changeAfter = static_cast<int32_t>(axes[kChangeAfter].value[o.pick[kChangeAfter]]);
    settings.learningRate = static_cast<float>(axes[kRate].value[o.pick[kRate]]);
    settings.momentum = static_cast<float>(axes[kMomentum].value[o.pick[kMomentum]]);
    settings.batch = axes[kBatch].value[o.pick[kBatch]] != 0.0;
    settings.seed = seed;
    return settings;
  };
  // Checked before any training: a too-large network fails at once.
  for (Outcome &o : outcomes) {
    NetworkShape shape = shapeOf(o);
    ExpandShape(shape);
    const long long conditions = static_cast<long long>(inputs) * shape.inputMFs[0];
    const long long actions = static_cast<long long>(numClasses) * shape.outputMFs[0];
    o.size = shape.rules * (conditions + actions) + conditions + actions;
  }

  LabelledData data{std::move(read.values), std::move(read.labels), read.featureNames};
  const std::vector<int> foldOf = StratifiedFolds(classes.classOf, numClasses, folds, seed);
  const int combos = static_cast<int>(outcomes.size());
  const bool terminal = isatty(2) != 0;
  const auto started = [&](int task) {
    if (!terminal) return;
    err << "\rcombination " << task / folds + 1 << " of " << combos << ", fold " << task % folds + 1
        << " of " << folds << "   " << std::flush;
  };
  const std::vector<FoldScore> scores = RunTasks(
      combos * folds, std::min(jobs, combos * folds),
      [&](int task) {
        const Outcome &o = outcomes[static_cast<size_t>(task / folds)];
        return ScoreFold(data, foldOf, task % folds, shapeOf(o), settingsOf(o));
      },
      started);
  if (terminal) err << "\r\033[K" << std::flush;

  out << "Read " << data.rows.size() << " rows of " << csvName << ": " << inputs << " features, "
      << numClasses << " classes (column \"" << read.classColumn << "\")\n"
      << folds << "-fold cross-validation, seed " << seed << "\n";
  size_t best = 0;
  for (size_t c = 0; c < outcomes.size(); ++c) {
    Outcome &o = outcomes[c];
    o.folds.assign(scores.begin() + static_cast<long>(c * folds),
                   scores.begin() + static_cast<long>((c + 1) * folds));
    std::vector<double> percent;
    for (const FoldScore &f : o.folds) percent.push_back(100.0 * f.correct / f.rows);
    for (double p : percent) o.mean += p;
    o.mean /= folds;
    for (double p : percent) o.deviation += (p - o.mean) * (p - o.mean);
    o.deviation = std::sqrt(o.deviation / (folds - 1));
    out << Describe(axes, o.pick) << "\n  folds:";
    for (double p : percent) out << " " << Percent(p);
    out << "\n  mean " << Percent(o.mean) << " \xc2\xb1 " << Percent(o.deviation) << "\n";
    const Outcome &b = outcomes[best];
    if (o.mean > b.mean || (o.mean == b.mean && o.size < b.size)) best = c;
  }

  const Outcome &b = outcomes[best];
  if (outcomes.size() > 1) {
    out << "Best of " << outcomes.size() << ": " << Describe(axes, b.pick) << "\n  mean "
        << Percent(b.mean) << " \xc2\xb1 " << Percent(b.deviation) << "\n";
  }
  std::string prefix = csvName;
  if (prefix.size() > 4 && prefix.compare(prefix.size() - 4, 4, ".csv") == 0) prefix.resize(prefix.size() - 4);
  out << "To train with these settings:\n"
      << "  kestrane-tool create --inputs " << inputs << " --input-mfs "
      << axes[kInputMFs].text[b.pick[kInputMFs]] << " --rules " << axes[kRules].text[b.pick[kRules]]
      << " --outputs " << numClasses << " --output-mfs " << axes[kOutputMFs].text[b.pick[kOutputMFs]];
  if (a.Has("--weights")) out << " --weights " << a.Get("--weights");
  out << " --seed " << seed << " -o " << prefix << "-initial.wgt\n"
      << "  Epochs = " << axes[kEpochs].text[b.pick[kEpochs]] << "\n"
      << "  ChangeAfter = " << axes[kChangeAfter].text[b.pick[kChangeAfter]] << "\n"
      << "  LearningRate = " << axes[kRate].text[b.pick[kRate]] << "\n"
      << "  Momentum = " << axes[kMomentum].text[b.pick[kMomentum]] << "\n"
      << "  Batch = " << axes[kBatch].text[b.pick[kBatch]] << "\n"
      << "  Seed = " << seed << "\n";
  return 0;
}

} // namespace kestrane
