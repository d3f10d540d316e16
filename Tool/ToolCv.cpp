#include "Tool/ToolCv.h"

#include "Boot/GridSearch.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "DataTools/CsvImport/StarterParameters.h"
#include "Tool/CvProgress.h"
#include "Tool/ToolCommon.h"
#include "Tool/ToolCvAuto.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
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
    "A combination whose training diverges in a fold (the error or a weight no\n"
    "longer a finite number) is shown as diverged and cannot win; when every\n"
    "combination diverges, cv fails with the first divergence.\n"
    "Each combination is printed as soon as its folds are scored, so a search\n"
    "stopped half-way keeps what it found; on a terminal, standard error shows\n"
    "the progress, the time elapsed and an estimate of the time left.\n"
    "  --folds K            number of folds, 2 or more (default 5)\n"
    "  --seed N             seed of the folds, the network and the training (default 1)\n"
    "  --class, --features, --categorical, --drop, --separator, --na   as for import\n"
    "  --jobs N             folds trained at once, on as many threads (default: the\n"
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
    "  --sampling LIST      balanced or proportional, as for import (default balanced)\n"
    "  --learn-centres LIST false or true: training moves the input membership\n"
    "                       centres too, as import --learn-centres (default false)\n"
    "Data (one value each, for every fold):\n"
    "  --scaling S          minmax or robust, as for import (default robust)\n"
    "  --centres P          even or quantile, as for create (default even)\n"
    "  --early-stopping F   hold out the share F of each class's training rows, score\n"
    "                       the network on them after every round, keep the best\n"
    "                       network and stop after 10 rounds without a gain\n"
    "Every fold draws, per class, as many rows as its smallest class has for\n"
    "training, as the parameter file of import does (balanced); proportional\n"
    "draws every class in proportion to its rows, as import --sampling does.\n"
    "  --auto               tune the settings within a time budget and train the\n"
    "                       best on all rows (see kestrane-tool cv --auto --help)\n";

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

Axis FlagAxis(const ToolArguments &a, const std::string &option, Setting setting) {
  Axis axis{option, {}, {}};
  for (const std::string &part : SplitList(a.Get(option, DefaultText(setting)))) {
    if (strcasecmp(part.c_str(), "true") != 0 && strcasecmp(part.c_str(), "false") != 0) {
      throw ToolError(option + ": \"" + part + "\" is neither true nor false");
    }
    axis.value.push_back(strcasecmp(part.c_str(), "true") == 0 ? 1.0 : 0.0);
    axis.text.push_back(axis.value.back() != 0.0 ? "true" : "false");
  }
  return axis;
}

Axis SamplingAxis(const ToolArguments &a) {
  Axis axis{"--sampling", {}, {}};
  for (const std::string &part : SplitList(a.Get("--sampling", "balanced"))) {
    const ClassSampling sampling = ParseSampling(part, "--sampling");
    axis.value.push_back(sampling == ClassSampling::kProportional ? 1.0 : 0.0);
    axis.text.push_back(part);
  }
  return axis;
}

std::string Percent(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", value);
  return text;
}

std::string Describe(const std::vector<Axis> &axes, const GridPoint &point) {
  std::string text;
  for (size_t k = 0; k < axes.size(); ++k) {
    if (axes[k].text.empty())
      continue; // an axis not asked for
    text += (k ? ", " : "") + axes[k].option.substr(2) + " " + axes[k].text[point.pick[k]];
  }
  return text;
}

std::ostream &PrintPoint(std::ostream &out, const std::vector<Axis> &axes, const GridPoint &o,
                         int folds) {
  out << Describe(axes, o) << "\n  folds:";
  for (size_t f = 0; f < o.folds.size(); ++f)
    out << " " << (o.folds[f].diverged ? "diverged" : Percent(o.percent[f]));
  if (o.diverged != 0) {
    out << "\n  training diverged in " << o.diverged << " of " << folds
        << " folds: no mean, not a candidate\n";
  } else {
    out << "\n  mean " << Percent(o.mean) << " \xc2\xb1 " << Percent(o.deviation) << "\n";
  }
  return out;
}

} // namespace

int ToolCv(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  if (std::find(args.begin(), args.end(), "--auto") != args.end())
    return ToolCvAuto(args, out, err);
  const ToolArguments a(args, {"--folds",       "--seed",    "--class",         "--features",
                               "--categorical", "--drop",    "--separator",     "--na",
                               "--jobs",        "--rules",   "--input-mfs",     "--output-mfs",
                               "--weights",     "--epochs",  "--change-after",  "--learning-rate",
                               "--momentum",    "--batch",   "--sampling",      "--learn-centres",
                               "--scaling",     "--centres", "--early-stopping"},
                        {}, "cv");
  if (a.Help()) {
    out << kToolCvHelp;
    return 0;
  }
  if (a.Operands().size() != 1)
    throw ToolError("cv takes one CSV file (see kestrane-tool cv --help)");
  const std::string csvName = a.Operands()[0];
  GridRequest grid;
  grid.folds = ParseCount(a.Get("--folds", std::to_string(kDefaults.folds)), "--folds", 2, 1000000);
  grid.seed = ParseSeed(a.Get("--seed", DefaultText(Setting::kSeed)));
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  grid.jobs = a.Has("--jobs") ? ParseCount(a.Get("--jobs"), "--jobs", 1, 1024)
                              : static_cast<int>(processors > 0 ? processors : 1);
  if (a.Has("--weights"))
    ParseWeightRange(a.Get("--weights"), grid.weightMin, grid.weightMax);
  grid.scaling = ParseScaling(a.Get("--scaling", kDefaults.robustScaling ? "robust" : "minmax"));
  const std::string centres = a.Get("--centres", "even");
  if (centres != "even" && centres != "quantile")
    throw ToolError("--centres: \"" + centres + "\" is neither even nor quantile");
  grid.centres = centres == "quantile" ? CentrePlacement::kQuantile : CentrePlacement::kEven;
  if (a.Has("--early-stopping")) {
    grid.validationFraction = ParseReal(a.Get("--early-stopping"), "--early-stopping");
    if (!(grid.validationFraction > 0.0 && grid.validationFraction < 1.0))
      throw ToolError("--early-stopping: the validation share must lie between 0 and 1");
  }

  ImportRequest request = ParseColumnChoices(a);
  std::ifstream csvIn(csvName, std::ios::binary);
  if (!csvIn)
    throw ToolError("Unable to open file " + csvName);
  LabelledRows read = ReadLabelledRows(csvIn, ParseSeparator(a.Get("--separator", ",")), request);
  const int inputs = static_cast<int>(read.featureNames.size());
  if (read.skipped > 0)
    err << SkippedWarning(read.skipped, " of " + csvName);
  for (const std::string &note : read.notes) {
    if (note.compare(0, 9, "!Warning:") == 0)
      err << note << "\n";
  }

  std::vector<Axis> axes(kGridAxes);
  const std::string starterRules = std::to_string(
      StarterRuleCount(inputs, static_cast<int>(SortedClassNames(read.labels).size())));
  axes[kGridRules] = CountAxis(a, "--rules", starterRules, 1, 100000);
  axes[kGridInputMFs] = CountAxis(a, "--input-mfs", DefaultText(Setting::kInputMFs), 2, 100000);
  axes[kGridOutputMFs] = CountAxis(a, "--output-mfs", DefaultText(Setting::kOutputMFs), 2, 100000);
  axes[kGridEpochs] = CountAxis(a, "--epochs", DefaultText(Setting::kEpochs), 1, 2000000000);
  axes[kGridChangeAfter] =
      CountAxis(a, "--change-after", DefaultText(Setting::kChangeAfter), 1, 2000000000);
  axes[kGridLearningRate] = RealAxis(a, "--learning-rate", DefaultText(Setting::kLearningRate));
  axes[kGridMomentum] = RealAxis(a, "--momentum", DefaultText(Setting::kMomentum));
  axes[kGridBatch] = FlagAxis(a, "--batch", Setting::kBatch);
  // Not named in the report unless asked for, so that it reads as it always has.
  if (a.Has("--sampling"))
    axes[kGridSampling] = SamplingAxis(a);
  // Likewise; its values still reach the grid when it is not asked for.
  const Axis learnCentres = FlagAxis(a, "--learn-centres", Setting::kLearnCentres);
  if (a.Has("--learn-centres"))
    axes[kGridLearnCentres] = learnCentres;
  for (int k = 0; k < kGridAxes; ++k)
    grid.values[k] = axes[k].value;
  grid.values[kGridLearnCentres] = learnCentres.value;

  const LabelledData data{std::move(read.values), std::move(read.labels), read.featureNames,
                          read.classColumn};
  const int numClasses = static_cast<int>(SortedClassNames(data.labels).size());
  const int folds = grid.folds;
  // Each combination is printed and flushed as soon as it is known, so that
  // a run stopped half-way keeps what it found. Combinations that diverged
  // wait, with the heading, for the first that did not: a search in which
  // every one diverges fails as one line, as any refused run does.
  bool headed = false;
  const auto heading = [&] {
    if (headed)
      return;
    headed = true;
    for (const std::string &note : read.notes) {
      if (note.compare(0, 9, "!Warning:") != 0)
        out << note << "\n";
    }
    out << "Read " << data.rows.size() << " rows of " << csvName << ": " << inputs << " features, "
        << numClasses << " classes (column \"" << data.classColumn << "\")\n"
        << folds << "-fold cross-validation, seed " << grid.seed << "\n"
        << std::flush;
  };
  GridListener listener;
  std::unique_ptr<CvProgress> progress;
  if (isatty(2) != 0)
    progress = std::make_unique<CvProgress>(err, folds);
  listener.started = [&](long long task, long long tasks) {
    if (progress)
      progress->Started(task, tasks);
  };
  if (progress)
    listener.ended = [&](long long count, long long tasks) { progress->Ended(count, tasks); };
  std::ostringstream held;
  listener.scored = [&](const GridPoint &point, size_t) {
    if (!headed && point.diverged != 0) {
      PrintPoint(held, axes, point, folds);
      return;
    }
    const auto print = [&] {
      heading();
      PrintPoint(out << held.str(), axes, point, folds) << std::flush;
      held.str("");
    };
    if (progress)
      progress->Around(print);
    else
      print();
  };
  const GridResult result = GridSearch(data, grid, listener);
  progress.reset();
  heading();

  const GridPoint &b = result.points[result.best];
  if (result.points.size() > 1) {
    out << "Best of " << result.points.size() << ": " << Describe(axes, b) << "\n  mean "
        << Percent(b.mean) << " \xc2\xb1 " << Percent(b.deviation) << "\n";
  }
  std::string prefix = csvName;
  if (prefix.size() > 4 && prefix.compare(prefix.size() - 4, 4, ".csv") == 0)
    prefix.resize(prefix.size() - 4);
  const auto text = [&](GridAxis k) { return axes[k].text[b.pick[k]]; };
  out << "To train with these settings:\n"
      << "  kestrane-tool create --inputs " << inputs << " --input-mfs " << text(kGridInputMFs)
      << " --rules " << text(kGridRules) << " --outputs " << numClasses << " --output-mfs "
      << text(kGridOutputMFs);
  if (a.Has("--weights"))
    out << " --weights " << a.Get("--weights");
  out << " --seed " << grid.seed << " -o " << prefix << "-initial.wgt\n"
      << "  Epochs = " << text(kGridEpochs) << "\n"
      << "  ChangeAfter = " << text(kGridChangeAfter) << "\n"
      << "  LearningRate = " << text(kGridLearningRate) << "\n"
      << "  Momentum = " << text(kGridMomentum) << "\n"
      << "  Batch = " << text(kGridBatch) << "\n"
      << "  Seed = " << grid.seed << "\n";
  if (b.settings.learnCentres)
    out << "  LearnCentres = true\n";
  if (a.Has("--sampling"))
    out << "  (import with --sampling " << text(kGridSampling) << ")\n";
  if (a.Has("--scaling"))
    out << "  (import with --scaling " << a.Get("--scaling") << ")\n";
  if (grid.centres == CentrePlacement::kQuantile)
    out << "  (create with --centres quantile --data and import's class files)\n";
  return 0;
}

} // namespace kestrane
