#include "Tool/ToolCvAuto.h"

#include "Boot/AutoSearch.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "Tool/ToolCommon.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>

namespace kestrane {

namespace {

const char *const kHelpHead =
    "Usage: kestrane-tool cv FILE.csv --auto [--time-budget SECONDS] [-o PREFIX]\n"
    "Tunes the settings itself: cross-validates a short list of settings, the\n"
    "most promising first, keeps the best mean (a tie goes to the smaller\n"
    "network), trains that network on all rows and writes PREFIX.wgt and\n"
    "PREFIX.ranges (for predict, eval and rules --ranges). The list, in order\n"
    "(R is the starter rule count that import suggests; other settings keep\n"
    "their defaults):\n";

const char *const kHelpTail =
    "The time budget: the first entry always runs and its time is the measure;\n"
    "the entries that follow run, in order, as long as their time predicted from\n"
    "it (by epochs, rows per round and network size) fits in the budget; nothing\n"
    "is stopped once started, and the refit on all rows comes after. When all\n"
    "entries fit, the result depends on the seed alone. When the budget leaves\n"
    "entries out, the count depends on this machine's speed: cv says so and\n"
    "names the --combinations N that repeats the search exactly.\n"
    "  --time-budget SECONDS  time for the search (default %g; 0: no limit)\n"
    "  --combinations N       at most the first N entries (default: all)\n"
    "  -o PREFIX              the refitted model's files (default: FILE-auto)\n"
    "  --folds K              number of folds, 2 or more (default %d)\n"
    "  --seed N               seed of the folds, the networks and the training (default 1)\n"
    "  --weights MIN,MAX      range of the random weights (default -0.5,0.5)\n"
    "  --jobs N               fold trainings at once (default: the number of\n"
    "                         processors); the results do not depend on it\n"
    "  --class, --features, --categorical, --drop, --separator, --na   as for import\n";

std::string Percent(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", value);
  return text;
}

std::string Seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", value);
  return text;
}

std::string Real(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Value(const GridRequest &grid, const GridPoint &p, GridAxis axis) {
  const double v = grid.values[axis][p.pick[axis]];
  if (axis == kGridSampling)
    return v != 0.0 ? "proportional" : "balanced";
  return Real(v);
}

std::string Describe(const GridRequest &r, const GridPoint &p) {
  return "rules " + Value(r, p, kGridRules) + ", input-mfs " + Value(r, p, kGridInputMFs) +
         ", learning-rate " + Value(r, p, kGridLearningRate) + ", epochs " +
         Value(r, p, kGridEpochs) + ", sampling " + Value(r, p, kGridSampling);
}

} // namespace

std::string ToolCvAutoHelp() {
  std::string help = kHelpHead;
  int n = 0;
  for (const AutoCandidate &c : AutoGrid()) {
    const std::string rules = c.rulesFactor == 1.0   ? "R"
                              : c.rulesFactor == 0.5 ? "R/2"
                                                     : Real(c.rulesFactor) + "R";
    char line[160];
    std::snprintf(line, sizeof line,
                  "  %2d  rules %-4s input-mfs %d, learning-rate %-5s epochs %-5s %s\n", ++n,
                  (rules + ",").c_str(), c.inputMFs, (Real(c.learningRate) + ",").c_str(),
                  (std::to_string(c.epochs) + ",").c_str(),
                  c.sampling == ClassSampling::kProportional ? "proportional" : "balanced");
    help += line;
  }
  char tail[2048];
  std::snprintf(tail, sizeof tail, kHelpTail, kAutoTimeBudget, kAutoFolds);
  return help + tail;
}

int ToolCvAuto(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  const ToolArguments a(args,
                        {"--folds",
                         "--seed",
                         "--class",
                         "--features",
                         "--categorical",
                         "--drop",
                         "--separator",
                         "--na",
                         "--jobs",
                         "--weights",
                         "--time-budget",
                         "--combinations",
                         "-o",
                         "--rules",
                         "--input-mfs",
                         "--output-mfs",
                         "--epochs",
                         "--change-after",
                         "--learning-rate",
                         "--momentum",
                         "--batch",
                         "--sampling",
                         "--learn-centres"},
                        {"--auto"}, "cv");
  if (a.Help()) {
    out << ToolCvAutoHelp();
    return 0;
  }
  for (const char *grid :
       {"--rules", "--input-mfs", "--output-mfs", "--epochs", "--change-after", "--learning-rate",
        "--momentum", "--batch", "--sampling", "--learn-centres"}) {
    if (a.Has(grid)) {
      throw ToolError(std::string("cv --auto chooses ") + grid +
                      " itself; leave it out, or drop --auto to give a grid");
    }
  }
  if (a.Operands().size() != 1)
    throw ToolError("cv takes one CSV file (see kestrane-tool cv --help)");
  const std::string csvName = a.Operands()[0];
  AutoRequest request;
  request.folds = ParseCount(a.Get("--folds", std::to_string(kAutoFolds)), "--folds", 2, 1000000);
  request.seed = ParseSeed(a.Get("--seed", DefaultText(Setting::kSeed)));
  request.jobs = ParseJobs(a);
  if (a.Has("--weights"))
    ParseWeightRange(a.Get("--weights"), request.weightMin, request.weightMax);
  request.timeBudget =
      a.Has("--time-budget") ? ParseReal(a.Get("--time-budget"), "--time-budget") : kAutoTimeBudget;
  if (!std::isfinite(request.timeBudget) || request.timeBudget < 0.0)
    throw ToolError("--time-budget: " + a.Get("--time-budget") + " is not a count of seconds");
  if (a.Has("--combinations"))
    request.maxCombinations = ParseCount(a.Get("--combinations"), "--combinations", 1, 1000000);
  std::string prefix = csvName;
  if (prefix.size() > 4 && prefix.compare(prefix.size() - 4, 4, ".csv") == 0)
    prefix.resize(prefix.size() - 4);
  prefix = a.Get("-o", prefix + "-auto");
  RequireOutputFolder(prefix, "-o");

  ImportRequest columns = ParseColumnChoices(a);
  std::ifstream csvIn(csvName, std::ios::binary);
  if (!csvIn)
    throw ToolError("Unable to open file " + csvName);
  LabelledRows read = ReadLabelledRows(csvIn, ParseSeparator(a.Get("--separator", ",")), columns);
  if (read.skipped > 0)
    err << SkippedWarning(read.skipped, " of " + csvName);
  for (const std::string &note : read.notes)
    (note.compare(0, 9, "!Warning:") == 0 ? err : out) << note << "\n";
  const LabelledData data{std::move(read.values), std::move(read.labels), read.featureNames,
                          read.classColumn};
  const int inputs = static_cast<int>(data.featureNames.size());

  const int numClasses = static_cast<int>(SortedClassNames(data.labels).size());
  const bool terminal = isatty(2) != 0;
  // Each entry is printed and flushed as soon as it is known, so that a search
  // stopped half-way keeps what it found. Entries that diverged wait, with the
  // heading, for the first that did not: a search in which every one diverges
  // fails as one line, as any refused run does.
  std::ostringstream held;
  held << "Read " << data.rows.size() << " rows of " << csvName << ": " << inputs << " features, "
       << numClasses << " classes (column \"" << data.classColumn << "\")\n"
       << "Self-tuning search: " << request.folds << "-fold cross-validation, seed " << request.seed
       << ", time budget "
       << (request.timeBudget > 0.0 ? Seconds(request.timeBudget) : std::string("none")) << "\n";
  bool shown = false;
  const auto scored = [&](const GridRequest &grid, const GridPoint &o) {
    held << Describe(grid, o) << "\n  folds:";
    for (size_t f = 0; f < o.folds.size(); ++f)
      held << " " << (o.folds[f].diverged ? "diverged" : Percent(o.percent[f]));
    if (o.diverged != 0) {
      held << "\n  training diverged in " << o.diverged << " of " << request.folds
           << " folds: no mean, not a candidate\n";
    } else {
      held << "\n  mean " << Percent(o.mean) << " \xc2\xb1 " << Percent(o.deviation) << "\n";
    }
    if (!shown && o.diverged != 0)
      return;
    shown = true;
    if (terminal)
      err << "\r\033[K" << std::flush;
    out << held.str() << std::flush;
    held.str("");
  };
  const AutoResult result = AutoSearch(
      data, request,
      [&](long long entry, int fold, long long n) {
        if (terminal) {
          err << "\rcombination " << entry + 1 << " of " << n << ", fold " << fold + 1 << " of "
              << request.folds << "   " << std::flush;
        }
      },
      scored);
  if (terminal)
    err << "\r\033[K" << std::flush;

  const size_t ran = result.search.points.size();
  out << "Searched " << ran << " of " << result.entries << " combinations in "
      << Seconds(result.seconds) << " (the first took " << Seconds(result.firstSeconds);
  if (request.timeBudget > 0.0 && ran > 1)
    out << "; predicted " << Seconds(result.predictedSeconds);
  out << ")\n";
  if (result.cut) {
    out << "  the time budget left the rest out; how many fit depends on this machine's\n"
        << "  speed: --combinations " << ran << " repeats this search exactly, --time-budget 0 "
        << "runs them all\n";
  }
  const GridPoint &b = result.search.points[result.search.best];
  out << "Best: " << Describe(result.grid, b) << "\n  mean " << Percent(b.mean) << " \xc2\xb1 "
      << Percent(b.deviation) << "\n";

  // The winner on every row, as import (no hold-out), create and a run would train it.
  Model model = Fit(data.rows, data.labels, data.featureNames, result.shape, result.settings,
                    nullptr, data.classColumn);
  model.Save(prefix);
  out << "Trained on all " << data.rows.size() << " rows: wrote " << prefix << ".wgt and " << prefix
      << ".ranges\n";

  out << "To train with these settings:\n"
      << "  kestrane-tool create --inputs " << inputs << " --input-mfs "
      << Value(result.grid, b, kGridInputMFs) << " --rules " << Value(result.grid, b, kGridRules)
      << " --outputs " << numClasses << " --output-mfs " << Value(result.grid, b, kGridOutputMFs);
  if (a.Has("--weights"))
    out << " --weights " << a.Get("--weights");
  if (b.settings.centres == CentrePlacement::kQuantile)
    out << " --centres quantile --data (import's class files)";
  out << " --seed " << request.seed << " -o " << prefix << "-initial.wgt\n"
      << "  Epochs = " << Value(result.grid, b, kGridEpochs) << "\n"
      << "  ChangeAfter = " << Value(result.grid, b, kGridChangeAfter) << "\n"
      << "  LearningRate = " << Value(result.grid, b, kGridLearningRate) << "\n"
      << "  Momentum = " << Value(result.grid, b, kGridMomentum) << "\n"
      << "  Batch = " << (b.settings.batch ? "true" : "false") << "\n"
      << "  Seed = " << request.seed << "\n"
      << "  (import with --sampling " << Value(result.grid, b, kGridSampling) << ")\n";
  return 0;
}

} // namespace kestrane
