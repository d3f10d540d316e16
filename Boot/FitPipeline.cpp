#include "Boot/FitPipeline.h"

#include "Boot/FiniteChecks.h"
#include "Boot/Wording.h"
#include "DataObject/Data.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/KestraneError.h"
#include "KQmessage/RunRandom.h"
#include "Vemo/RuleRows.h"
#include "Vemo/TVemo.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <sstream>
#include <unordered_map>

namespace kestrane {

namespace {

// The default proportional round holds at most this many balanced rounds' rows.
constexpr int64_t kProportionalRounds = 3;

// Keeps a mistyped count from asking for gigabytes of weights.
constexpr long long kMaxWeights = 50000000;

// 100,000 counts of up to 100,000 each overflow an int.
long long Sum(const std::vector<int> &counts) {
  long long sum = 0;
  for (int c : counts)
    sum += c;
  return sum;
}

void ExpandCounts(std::vector<int> &counts, int n, Setting setting) {
  if (counts.empty()) {
    counts.assign(static_cast<size_t>(n),
                  setting == Setting::kInputMFs ? kDefaults.inputMFs : kDefaults.outputMFs);
  }
  if (counts.size() == 1)
    counts.assign(static_cast<size_t>(n), counts[0]);
  if (static_cast<int>(counts.size()) != n) {
    throw TSettingError(setting, std::to_string(counts.size()) + " numbers given, " +
                                     std::to_string(n) + " needed (or one for all)");
  }
}

} // namespace

EncodedClasses EncodeClasses(const std::vector<std::string> &labels) {
  EncodedClasses encoded;
  encoded.names = SortedClassNames(labels);
  std::unordered_map<std::string, int> indexOf;
  for (size_t k = 0; k < encoded.names.size(); ++k)
    indexOf[encoded.names[k]] = static_cast<int>(k);
  encoded.classOf.reserve(labels.size());
  for (const std::string &label : labels)
    encoded.classOf.push_back(indexOf.at(label));
  return encoded;
}

std::vector<std::unique_ptr<Data>> BuildClassTables(const std::vector<std::vector<double>> &scaled,
                                                    const std::vector<int> &classOf,
                                                    int numClasses) {
  std::vector<std::vector<int>> rowsOfClass(static_cast<size_t>(numClasses));
  for (size_t r = 0; r < classOf.size(); ++r)
    rowsOfClass.at(classOf[r]).push_back(static_cast<int>(r));
  std::vector<std::unique_ptr<Data>> tables;
  for (const std::vector<int> &rows : rowsOfClass) {
    tables.push_back(MakeClassTable(rows, scaled, classOf, numClasses));
  }
  return tables;
}

void ExpandShape(NetworkShape &shape) {
  if (shape.inputs < 1 || shape.rules < 1 || shape.outputs < 1) {
    throw TRunError("a network needs at least one input, one rule and one output");
  }
  // The weights are drawn as min + (max - min) * u: a span that overflows
  // makes every weight infinite.
  const std::string range = StreamText(shape.weightMin) + "," + StreamText(shape.weightMax);
  if (!std::isfinite(shape.weightMin) || !std::isfinite(shape.weightMax))
    throw TSettingError(Setting::kWeightRange, range + ": both ends must be finite numbers");
  if (!std::isfinite(shape.weightMax - shape.weightMin)) {
    throw TSettingError(Setting::kWeightRange,
                        range + ": the width overflows and every weight would be infinite");
  }
  ExpandCounts(shape.inputMFs, shape.inputs, Setting::kInputMFs);
  ExpandCounts(shape.outputMFs, shape.outputs, Setting::kOutputMFs);
  const long long conditions = Sum(shape.inputMFs);
  const long long actions = Sum(shape.outputMFs);
  const long long rules = shape.rules;
  if (conditions * rules + rules * actions > kMaxWeights) {
    throw TRunError("network too large: more than " + std::to_string(kMaxWeights) +
                    " rule and action weights");
  }
  // Kestrane refuses to read a larger network back, and writing one takes
  // gigabytes and many seconds.
  if (shape.inputs + conditions + rules + actions + shape.outputs > netfile_limits::kMaxNeurons) {
    throw TRunError("network too large: more than " + std::to_string(netfile_limits::kMaxNeurons) +
                    " neurons");
  }
  // The reader counts every matrix as from x to arcs, the fuzzy ones included.
  const long long arcs =
      shape.inputs * conditions + conditions * rules + rules * actions + actions * shape.outputs;
  if (arcs > netfile_limits::kMaxArcs) {
    throw TRunError("network too large: more than " + std::to_string(netfile_limits::kMaxArcs) +
                    " arcs");
  }
}

std::unique_ptr<TVemo> BuildNetwork(NetworkShape shape) {
  ExpandShape(shape);
  auto network = std::make_unique<TVemo>(shape.inputs, shape.inputMFs.data(), shape.rules,
                                         shape.outputMFs.data(), shape.outputs);
  const RunRandomScope random(shape.seed);
  network->InitWeights(shape.weightMin, shape.weightMax);
  return network;
}

std::unique_ptr<TBasicNetwork> CreateNetwork(const NetworkShape &shape) {
  const std::unique_ptr<TVemo> built = BuildNetwork(shape);
  FileTools tools;
  std::stringstream text;
  try {
    tools.WriteNetwork(text, *built);
  } catch (const FileTools::Error &) {
    // A string stream fails only when its memory runs out.
    if (text.bad())
      throw std::bad_alloc();
    throw;
  }
  return tools.ReadNetwork(text);
}

std::vector<int32_t> ClassExamples(const TrainSettings &settings,
                                   const std::vector<int32_t> &rows) {
  if (!settings.examples.empty() || rows.empty())
    return settings.examples;
  const int64_t perRound = settings.examplesPerRound;
  if (perRound < 0)
    throw TSettingError(Setting::kExamples, "must not be negative");
  if (perRound > std::numeric_limits<int32_t>::max())
    throw TSettingError(Setting::kExamples, "more rows per round than a table may hold");
  const int64_t classes = static_cast<int64_t>(rows.size());
  int64_t total = 0;
  for (int32_t n : rows)
    total += n;
  std::vector<int32_t> examples;
  if (settings.sampling == ClassSampling::kBalanced) {
    if (perRound == 0)
      return std::vector<int32_t>(rows.size(), *std::min_element(rows.begin(), rows.end()));
    return std::vector<int32_t>(rows.size(),
                                static_cast<int32_t>(std::max<int64_t>(1, perRound / classes)));
  }
  // By default every row, but at most three balanced rounds' worth: a round
  // then costs at most three times a balanced one, however large the
  // largest class.
  const int64_t smallest = *std::min_element(rows.begin(), rows.end());
  const int64_t wanted =
      perRound != 0 ? perRound : std::min(total, kProportionalRounds * smallest * classes);
  for (int32_t n : rows) {
    // Rounded to the nearest row; a class too small for one row still gives one.
    const int64_t share = total == 0 ? 0 : (wanted * n + total / 2) / total;
    examples.push_back(static_cast<int32_t>(std::max<int64_t>(n > 0 ? 1 : 0, share)));
  }
  return examples;
}

bool DrawsWithReplacement(const TrainSettings &settings) {
  return settings.withReplacement || settings.sampling == ClassSampling::kProportional ||
         settings.examplesPerRound > 0;
}

double TrainNetwork(TBasicNetwork &network, const std::vector<Data *> &classTables,
                    const TrainSettings &settings, TVemoBPBootStrap::ProgressFn progress,
                    const std::vector<std::string> &classNames) {
  std::vector<int32_t> rows;
  for (size_t k = 0; k < classTables.size(); ++k) {
    int64_t n = classTables[k]->MbrNdxDataRows;
    if (k < settings.rowCopies.size() && !settings.rowCopies[k].empty()) {
      n = 0;
      for (int32_t c : settings.rowCopies[k])
        n += c;
    }
    if (n > std::numeric_limits<int32_t>::max())
      throw TRunError("a class has more than 2147483647 rows to draw from");
    rows.push_back(static_cast<int32_t>(n));
  }
  const std::vector<int32_t> examples = ClassExamples(settings, rows);
  if (examples.size() != classTables.size()) {
    throw TRunError(std::to_string(examples.size()) + " example counts for " +
                    std::to_string(classTables.size()) + " classes");
  }
  // A draw without replacement takes that many distinct rows of each class.
  for (size_t k = 0; k < classTables.size() && !DrawsWithReplacement(settings); ++k) {
    if (classTables[k] != nullptr && examples[k] > rows[k]) {
      const std::string name =
          k < classNames.size() ? classNames[k] : "class number " + std::to_string(k + 1);
      throw TRunError("Insufficient rows: " + name + " has " + CountOf(rows[k], "row") + ", " +
                      std::to_string(examples[k]) + " examples per draw asked of it; ask at most " +
                      std::to_string(rows[k]) + ", or draw with replacement");
    }
  }
  const RunRandomScope random(settings.seed);
  TVemoBPBootStrap trainer(&network);
  trainer.SetWithReplacement(DrawsWithReplacement(settings));
  trainer.SetLearnCentres(settings.learnCentres);
  trainer.SetProgress(std::move(progress));
  if (!settings.rowCopies.empty()) {
    if (settings.rowCopies.size() != classTables.size())
      throw TRunError("row copies for " + std::to_string(settings.rowCopies.size()) + " classes, " +
                      std::to_string(classTables.size()) + " given");
    trainer.SetRowCopies(settings.rowCopies);
  }
  const double error = trainer.Run(static_cast<int32_t>(classTables.size()), classTables.data(),
                                   examples.data(), settings.epochs, settings.changeAfter,
                                   settings.learningRate, settings.momentum, 0.0, settings.batch);
  trainer.SetProgress(nullptr);
  return error;
}

void CheckTrainSettings(const TrainSettings &settings) {
  // A front end's settings reach the trainer exactly or not at all.
  RequireTrainerReadsAsGiven(Setting::kLearningRate, settings.learningRate);
  RequireTrainerReadsAsGiven(Setting::kMomentum, settings.momentum);
  if (settings.learningRate < 0.0f) {
    throw TSettingError(Setting::kLearningRate,
                        StreamText(settings.learningRate) +
                            " is negative: every step would move away from the targets");
  }
}

void RequireConverged(TBasicNetwork &network, double error, const std::string &after) {
  const long diverged = CountNonFiniteWeights(network);
  if (std::isfinite(error) && diverged == 0)
    return;
  throw TDivergedError("the error is " + StreamText(error) + " and " + std::to_string(diverged) +
                           " weights are not finite numbers",
                       after);
}

namespace {

// The rows (and labels) of at least one copy, and per class the copies of its
// rows in row order.
struct CopiedRows {
  std::vector<std::vector<double>> rows;
  std::vector<std::string> labels;
  std::vector<int32_t> copies;
};

CopiedRows WithoutUncopied(const std::vector<std::vector<double>> &rows,
                           const std::vector<std::string> &labels,
                           const std::vector<int32_t> &rowCopies) {
  if (rowCopies.size() != rows.size())
    throw TRunError(std::to_string(rowCopies.size()) + " row copies for " +
                    std::to_string(rows.size()) + " rows");
  CopiedRows kept;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (rowCopies[r] < 0)
      throw TRunError("a row with a negative count of copies");
    if (rowCopies[r] == 0)
      continue;
    kept.rows.push_back(rows[r]);
    kept.labels.push_back(labels[r]);
    kept.copies.push_back(rowCopies[r]);
  }
  if (kept.rows.empty())
    throw TRunError("every row has 0 copies");
  return kept;
}

} // namespace

Model Fit(const std::vector<std::vector<double>> &rows, const std::vector<std::string> &labels,
          const std::vector<std::string> &featureNames, NetworkShape shape,
          const TrainSettings &settings, TVemoBPBootStrap::ProgressFn progress,
          const std::string &classColumn, const std::vector<int32_t> &rowCopies) {
  if (!rowCopies.empty() && rows.size() == labels.size()) {
    const CopiedRows kept = WithoutUncopied(rows, labels, rowCopies);
    TrainSettings copied = settings;
    copied.rowCopies.clear();
    const EncodedClasses encoded = EncodeClasses(kept.labels);
    copied.rowCopies.resize(encoded.names.size());
    for (size_t r = 0; r < kept.rows.size(); ++r)
      copied.rowCopies[static_cast<size_t>(encoded.classOf[r])].push_back(kept.copies[r]);
    return Fit(kept.rows, kept.labels, featureNames, std::move(shape), copied, std::move(progress),
               classColumn);
  }
  if (rows.empty() || rows.size() != labels.size()) {
    throw TRunError("fitting needs rows, and one class label per row");
  }
  if (featureNames.size() != rows[0].size()) {
    throw TRunError(std::to_string(featureNames.size()) + " feature names for " +
                    std::to_string(rows[0].size()) + " columns");
  }
  for (const std::vector<double> &row : rows) {
    if (row.size() != featureNames.size())
      throw TRunError("rows of unequal length");
  }
  CheckTrainSettings(settings);
  EncodedClasses encoded = EncodeClasses(labels);
  if (encoded.names.size() < 2)
    throw TRunError("a classifier needs at least two classes");
  ImportRanges ranges;
  ranges.classColumn = classColumn;
  ranges.classes = std::move(encoded.names);
  ranges.features = ComputeRanges(featureNames, rows);
  const int numClasses = static_cast<int>(ranges.classes.size());
  std::unique_ptr<TBasicNetwork> network;
  double error = 0.0;
  {
    std::vector<std::vector<double>> scaled = rows;
    ScaleRows(ranges.features, scaled);
    const std::vector<std::unique_ptr<Data>> tables =
        BuildClassTables(scaled, encoded.classOf, numClasses);
    scaled.clear();
    shape.inputs = static_cast<int>(featureNames.size());
    shape.outputs = numClasses;
    network = CreateNetwork(shape);
    std::vector<Data *> classTables;
    for (const auto &table : tables)
      classTables.push_back(table.get());
    std::vector<std::string> names;
    for (const std::string &name : ranges.classes)
      names.push_back("class " + name);
    error = TrainNetwork(*network, classTables, settings, std::move(progress), names);
    RequireConverged(*network, error);
  }
  return Model(std::move(ranges), std::move(network), error);
}

} // namespace kestrane
