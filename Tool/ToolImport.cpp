#include "Tool/ToolImport.h"

#include "Boot/FitPipeline.h"
#include "Boot/ParameterFile.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "DataTools/CsvImport/StarterParameters.h"
#include "FileHandler/ParseTools.h"
#include "Tool/ToolCommon.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

namespace kestrane {

const char *const kToolImportHelp =
    "Usage: kestrane-tool import [options] FILE.csv\n"
    "Reads a CSV file with a header row, scales every feature into [0, 1] by its\n"
    "minimum and maximum over the training rows (a constant column becomes 0.5;\n"
    "held-out values outside are clipped) and encodes the class as\n"
    "one output per class (classes in sorted order, numbers by value, 1 for the\n"
    "row's class, else 0). A missing feature value (see --na) stays missing: the\n"
    "network gives it degree 0 in every membership function of its input, so it\n"
    "adds nothing to any rule; a row without a class is skipped, with a warning.\n"
    "Writes, for the output prefix P:\n"
    "  P-<class>.dat   training rows of each class (data-set files)\n"
    "  P-test.dat      the held-out rows of every class (with --holdout)\n"
    "  P.ranges        scaling ranges and class names, for --ranges later\n"
    "  P.param         starter parameter file for Kestrane\n"
    "With --ranges the data is scaled and encoded as that earlier import did\n"
    "(values outside its ranges are clipped) and only P.dat is written.\n"
    "Options:\n"
    "  --class COLUMN      class column: header name or 0-based index (default: last)\n"
    "  --features LIST     comma list of feature columns (default: all but the class)\n"
    "  --categorical LIST  feature columns taken as categories even though they\n"
    "                      hold numbers (a column holding text always is): one\n"
    "                      0/1 input \"column=category\" per category\n"
    "  --drop LIST         comma list of columns to leave out (an ID, say)\n"
    "  --separator C       field separator, one character or \"tab\" (default ,)\n"
    "  --na LIST           texts that mark a missing value, a comma list (default:\n"
    "                      the empty field, NA, NaN and ?: \",NA,NaN,?\")\n"
    "  --holdout F         fraction of each class held out for testing (default 0)\n"
    "  --seed N            seed of the hold-out choice (default 1)\n"
    "  --ranges FILE       reuse the ranges file of an earlier import\n"
    "  --scaling S         minmax: each column's range is its smallest and largest\n"
    "                      training value; robust: its 5th to 95th percentile,\n"
    "                      widened by that width on each side (never beyond the\n"
    "                      values), so that a few extreme rows are clipped instead\n"
    "                      of squeezing the others together (default robust)\n"
    "  -o PREFIX           output prefix (default: FILE without .csv)\n"
    "Settings written to P.param (edit the file freely afterwards):\n"
    "  --epochs N          epoch budget of the run (default 500)\n"
    "  --change-after N    epochs on one draw of rows before the next (default 10)\n"
    "  --learning-rate X   (default 0.1)\n"
    "  --momentum X        (default 0.5)\n"
    "  --batch             Batch = true: one weight change per pass over a draw, with\n"
    "                      the learning rate divided by the rows of one draw, so that\n"
    "                      a step stays about the size of an on-line step\n"
    "  --sampling S        balanced: as many rows from every class per round;\n"
    "                      proportional: every class in proportion to its rows, at\n"
    "                      least one (default balanced)\n"
    "  --examples N        rows per round over all classes (default: balanced, the\n"
    "                      smallest class's rows from every class; proportional, all\n"
    "                      the rows, at most three times the balanced count); a\n"
    "                      class short of rows repeats some of them\n"
    "  --learn-centres     LearnCentres = true: training also moves the inner centres\n"
    "                      of the input membership functions (the first and last\n"
    "                      stay; the others keep their order); without it they\n"
    "                      all stay where create put them\n"
    "The parameter file also gets Seed = the --seed value, and Examples = the\n"
    "training rows of the smallest class for every class (without --sampling and\n"
    "--examples; with them, one count per class and WithReplacement = true).\n"
    "The create command printed at the end suggests features + classes rules (at\n"
    "most 100, or the class count when that is larger): in cross-validation on\n"
    "several data sets accuracy rose steeply up to about that count and stayed\n"
    "flat beyond it. kestrane-tool cv measures other counts on your data.\n";

namespace {

// A data-set row of an import holds a number per feature and per class; the
// import refuses more columns than a ranges file holds, and so never writes a
// row the data-set reader would refuse.
static_assert(ranges_limits::kMaxColumns <= dataset_limits::kMaxNumbersPerRow);

// Class names become part of file names: keep them to portable characters.
std::vector<std::string> ClassFileNames(const std::string &prefix,
                                        const std::vector<std::string> &classes) {
  std::vector<std::string> names;
  for (size_t k = 0; k < classes.size(); ++k) {
    std::string part;
    for (char c : classes[k]) {
      const bool plain =
          std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
      part += plain ? c : '_';
    }
    std::string name = prefix + "-" + part + ".dat";
    // Distinct classes may look alike once cleaned, and "test" is taken.
    if (part == "test" || std::find(names.begin(), names.end(), name) != names.end()) {
      name = prefix + "-" + part + "-" + std::to_string(k) + ".dat";
    }
    names.push_back(name);
  }
  return names;
}

void SaveTable(PendingFiles &pending, const std::string &file, Data &table) {
  FileTools tools;
  tools.WriteDataSet(pending.Add(file), &table, nullptr);
}

// The create command for the imported data, if create can make any network
// of that width: three membership functions per input, else two.
std::string SuggestCreate(int features, int classes, const std::string &weightFile) {
  const int rules = StarterRuleCount(features, classes);
  std::string why;
  for (int mfs : {3, 2}) {
    NetworkShape shape;
    shape.inputs = features;
    shape.inputMFs = {mfs};
    shape.rules = rules;
    shape.outputs = classes;
    try {
      ExpandShape(shape);
    } catch (const TKestraneError &) {
      if (why.empty())
        why = FailureReport(std::current_exception(), OptionName);
      continue;
    }
    return "Next: kestrane-tool create --inputs " + std::to_string(features) +
           (mfs == 3 ? std::string() : " --input-mfs " + std::to_string(mfs)) + " --rules " +
           std::to_string(rules) + " --outputs " + std::to_string(classes) + " -o " + weightFile +
           "\n";
  }
  return "No create command fits " + std::to_string(features) + " features (" + why +
         "); import fewer columns with --features\n";
}

} // namespace

int ToolImport(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  const ToolArguments a(args,
                        {"--class", "--features", "--categorical", "--drop", "--separator", "--na",
                         "--holdout", "--seed", "--ranges", "-o", "--epochs", "--change-after",
                         "--learning-rate", "--momentum", "--sampling", "--examples", "--scaling"},
                        {"--batch", "--learn-centres"}, "import");
  if (a.Help()) {
    out << kToolImportHelp;
    return 0;
  }
  if (a.Operands().size() != 1)
    throw ToolError("import takes one CSV file (see kestrane-tool import --help)");
  const std::string csvName = a.Operands()[0];
  std::string prefix = a.Get("-o");
  if (prefix.empty()) {
    prefix = csvName;
    if (prefix.size() > 4 && prefix.compare(prefix.size() - 4, 4, ".csv") == 0)
      prefix.resize(prefix.size() - 4);
  }
  // The parameter file separates words by blanks and holds names of at most 254 characters.
  if (prefix.find_first_of(" \t\r\n") != std::string::npos) {
    throw ToolError(
        "-o: the prefix must not contain blanks (the parameter file names files by single words)");
  }
  // A prefix names files: "adir/" or an existing folder "adir" would put
  // them in or beside the folder with names the user never chose.
  std::error_code ignored;
  if ((!prefix.empty() && prefix.back() == '/') || std::filesystem::is_directory(prefix, ignored)) {
    std::string folder = prefix;
    while (folder.size() > 1 && folder.back() == '/')
      folder.pop_back();
    std::string stem = csvName.substr(csvName.find_last_of('/') + 1);
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".csv") == 0)
      stem.resize(stem.size() - 4);
    throw ToolError("-o: " + prefix + " is a folder; give a prefix for the files' names, such as " +
                    (folder == "/" ? std::string() : folder) + "/" + stem);
  }
  RequireOutputFolder(prefix, "-o");
  // A set that an earlier import of this prefix left half replaced is made
  // whole first (old or new, as far as that import got).
  SafeSave::Recover(SetJournal(prefix));

  ImportRequest request = ParseColumnChoices(a);
  request.holdout = a.Has("--holdout") ? ParseReal(a.Get("--holdout"), "--holdout") : 0.0;
  request.seed = ParseSeed(a.Get("--seed", "1"));
  request.rangeFit =
      ParseScaling(a.Get("--scaling", kDefaults.robustScaling ? "robust" : "minmax"));
  ImportRanges reused;
  if (a.Has("--ranges")) {
    if (a.Has("--holdout"))
      throw ToolError("--holdout and --ranges do not go together");
    if (a.Has("--scaling"))
      throw ToolError(
          "--scaling and --ranges do not go together (the ranges file holds the scaling)");
    std::ifstream rangesIn(a.Get("--ranges"), std::ios::binary);
    if (!rangesIn)
      throw ToolError("Unable to open file " + a.Get("--ranges"));
    RequireNoSetJournal(a.Get("--ranges"));
    reused = ReadRanges(rangesIn);
    request.reuse = &reused;
  }
  const char separator = ParseSeparator(a.Get("--separator", ","));

  std::ifstream csvIn(csvName, std::ios::binary);
  if (!csvIn)
    throw ToolError("Unable to open file " + csvName);
  ImportResult result = ImportCsv(csvIn, separator, request);
  const ImportRanges &ranges = result.ranges;

  PendingFiles pending(SetJournal(prefix));
  out << "Read " << CountOf(static_cast<long long>(result.rows), "row") << " of " << csvName << ": "
      << CountOf(static_cast<long long>(ranges.features.size()), "feature") << ", "
      << CountOf(static_cast<long long>(ranges.classes.size()), "class", "classes") << " (column \""
      << ranges.classColumn << "\")"
      << (result.missing > 0 ? ", " + CountOf(result.missing, "missing value") : std::string())
      << "\n";
  for (const std::string &note : result.notes)
    (note.compare(0, 9, "!Warning:") == 0 ? err : out) << note << "\n";
  const std::string skipped =
      (result.skipped > 0 ? SkippedWarning(result.skipped, " of " + csvName) : std::string()) +
      result.unseenWarning;
  if (request.reuse) {
    const std::string file = prefix + ".dat";
    SaveTable(pending, file, *result.test);
    pending.Commit();
    for (size_t k = 0; k < ranges.classes.size(); ++k) {
      out << "  " << ranges.classes[k] << ": " << CountOf(result.testRowsPerClass[k], "row")
          << "\n";
    }
    out << "Wrote " << file << "\n";
    if (result.clipped > 0) {
      err << ClippedWarning(result.clipped, "value", " outside the ranges of the earlier import");
    }
    err << skipped;
    return 0;
  }

  const std::vector<std::string> classFiles = ClassFileNames(prefix, ranges.classes);
  StarterParameters params;
  params.weightFile = prefix + "-initial.wgt";
  params.destinationFile = prefix + "-trained.wgt";
  // Kestrane must be able to read the parameter file that names them.
  for (const std::string &file : classFiles) {
    if (file.size() > kMaxDataFileName) {
      throw ToolError("file name longer than " + std::to_string(kMaxDataFileName) +
                      " characters, more than a parameter file takes: " + file);
    }
  }
  for (const std::string &file : {params.weightFile, params.destinationFile}) {
    if (file.size() > kMaxParameterWord) {
      throw ToolError("file name longer than " + std::to_string(kMaxParameterWord) +
                      " characters, more than a parameter file takes: " + file);
    }
  }
  params.dataFiles = classFiles;
  params.seed = static_cast<uint32_t>(request.seed);
  params.epochs =
      ParseCount(a.Get("--epochs", DefaultText(Setting::kEpochs)), "--epochs", 1, 2000000000);
  params.changeAfter = ParseCount(a.Get("--change-after", DefaultText(Setting::kChangeAfter)),
                                  "--change-after", 1, 2000000000);
  params.learningRate =
      ParseReal(a.Get("--learning-rate", DefaultText(Setting::kLearningRate)), "--learning-rate");
  params.momentum = ParseReal(a.Get("--momentum", DefaultText(Setting::kMomentum)), "--momentum");
  params.examples = result.training[0]->MbrNdxDataRows;
  for (const auto &table : result.training)
    params.examples = std::min(params.examples, static_cast<int>(table->MbrNdxDataRows));
  if (a.Has("--sampling") || a.Has("--examples")) {
    TrainSettings sampling;
    sampling.sampling = ParseSampling(a.Get("--sampling", "balanced"), "--sampling");
    if (a.Has("--examples"))
      sampling.examplesPerRound = ParseCount(a.Get("--examples"), "--examples", 1, 2000000000);
    std::vector<int32_t> rows;
    for (const auto &table : result.training)
      rows.push_back(table->MbrNdxDataRows);
    const std::vector<int32_t> counts = ClassExamples(sampling, rows);
    params.classExamples.assign(counts.begin(), counts.end());
    params.examplesNote = std::string(sampling.sampling == ClassSampling::kBalanced
                                          ? "the same count from every class"
                                          : "each class in proportion to its training rows") +
                          (a.Has("--examples") ? ", " + a.Get("--examples") + " in all" : "");
  }
  params.learnCentres = a.Has("--learn-centres") || kDefaults.learnCentres;
  if (a.Has("--batch")) {
    // A batch step follows the change summed over the whole draw: scaled
    // down by the draw's rows it is about one on-line step.
    params.batch = true;
    params.onlineRate = params.learningRate;
    params.learningRate /=
        static_cast<double>(params.examples) * static_cast<double>(classFiles.size());
  }
  // The run reads the rate as a float and hands it on with six decimals; a
  // scaled batch rate too small for that would train nothing.
  std::string rateRaised;
  if (params.batch && !TrainerReadsOtherwise(static_cast<float>(params.learningRate)).empty()) {
    const double usable = AsTrainerReads(std::max(params.learningRate, kSmallestTrainedRate));
    std::ostringstream why;
    why << "!Warning: the batch LearningRate " << params.learningRate
        << " would reach the trainer as " << AsTrainerReads(params.learningRate)
        << " (six decimals); " << prefix << ".param says " << usable << " instead\n";
    rateRaised = why.str();
    params.learningRate = usable;
    params.rateRaised = true;
  } else {
    RequireTrainerReadsAsGiven(Setting::kLearningRate, static_cast<float>(params.learningRate));
  }
  RequireTrainerReadsAsGiven(Setting::kMomentum, static_cast<float>(params.momentum));
  for (size_t k = 0; k < classFiles.size(); ++k) {
    SaveTable(pending, classFiles[k], *result.training[k]);
    out << "  " << ranges.classes[k] << ": "
        << CountOf(result.training[k]->MbrNdxDataRows, "training row") << " in " << classFiles[k]
        << ", " << result.testRowsPerClass[k] << " held out\n";
  }
  const std::string testFile = prefix + "-test.dat";
  if (result.test)
    SaveTable(pending, testFile, *result.test);
  WriteRanges(pending.Add(prefix + ".ranges"), ranges);
  WriteStarterParameters(pending.Add(prefix + ".param"), params);
  pending.Commit();
  out << "Wrote " << (result.test ? testFile + ", " : std::string()) << prefix << ".ranges and "
      << prefix << ".param\n"
      << SuggestCreate(static_cast<int>(ranges.features.size()),
                       static_cast<int>(ranges.classes.size()), params.weightFile);
  if (result.clippedTraining > 0) {
    err << ClippedWarning(result.clippedTraining, "training value",
                          " outside the robust ranges of their columns");
  }
  if (result.clipped > result.clippedTraining) {
    err << ClippedWarning(result.clipped - result.clippedTraining, "held-out value",
                          " outside the ranges of the training rows");
  }
  err << rateRaised << skipped;
  return 0;
}

} // namespace kestrane
