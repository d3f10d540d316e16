#include "Boot/FitPipeline.h"

#include "Boot/FiniteChecks.h"
#include "Boot/Model.h"
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
#include <random>
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
  if (!shape.inputCentres.empty()) {
    if (static_cast<int>(shape.inputCentres.size()) != shape.inputs)
      throw TRunError(std::to_string(shape.inputCentres.size()) + " lists of centres for " +
                      std::to_string(shape.inputs) + " inputs");
    for (size_t i = 0; i < shape.inputCentres.size(); ++i) {
      const std::vector<double> &c = shape.inputCentres[i];
      bool ordered = static_cast<int>(c.size()) == shape.inputMFs[i];
      for (size_t k = 0; ordered && k < c.size(); ++k)
        ordered = std::isfinite(c[k]) && (k == 0 || c[k - 1] < c[k]);
      if (!ordered)
        throw TRunError("the centres of input " + std::to_string(i + 1) + " are not " +
                        std::to_string(shape.inputMFs[i]) + " increasing finite numbers");
    }
  }
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
  if (!shape.inputCentres.empty()) {
    std::vector<double> centres;
    for (const std::vector<double> &c : shape.inputCentres)
      centres.insert(centres.end(), c.begin(), c.end());
    network->SetWeightLayer(TVemo::kConditionCentres, centres.data());
  }
  return network;
}

std::vector<std::vector<double>> QuantileCentres(const std::vector<std::vector<double>> &scaled,
                                                 const std::vector<int> &mfs) {
  std::vector<std::vector<double>> centres(mfs.size());
  std::vector<double> column;
  for (size_t i = 0; i < mfs.size(); ++i) {
    const int m = mfs[i];
    column.clear();
    for (const std::vector<double> &row : scaled)
      if (i < row.size() && !std::isnan(row[i]))
        column.push_back(row[i]);
    std::sort(column.begin(), column.end());
    std::vector<double> &c = centres[i];
    for (int k = 0; k < m; ++k)
      c.push_back(static_cast<double>(k) / (m - 1));
    if (column.size() < 2 || m < 2)
      continue;
    std::vector<double> placed;
    for (int k = 0; k < m; ++k) {
      const double at = static_cast<double>(k) / (m - 1) * static_cast<double>(column.size() - 1);
      const size_t below = std::min(static_cast<size_t>(at), column.size() - 2);
      placed.push_back(column[below] +
                       (column[below + 1] - column[below]) * (at - static_cast<double>(below)));
    }
    // Functions squeezed together would cut the input at nearly one value.
    const double least = 0.1 / (m - 1);
    bool spread = true;
    for (int k = 1; k < m; ++k)
      spread = spread && placed[k] - placed[k - 1] >= least;
    if (spread)
      c = placed;
  }
  return centres;
}

std::unique_ptr<TBasicNetwork> CreateNetwork(const NetworkShape &shape) {
  std::istringstream text(NetworkFileText(*BuildNetwork(shape)));
  return FileTools().ReadNetwork(text);
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
                    const std::vector<std::string> &classNames,
                    TVemoBPBootStrap::RoundFn roundDone) {
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
  trainer.SetRoundDone(std::move(roundDone));
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
  trainer.SetRoundDone(nullptr);
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

// The rows early stopping scores the network on, taken out of the training.
struct HeldOut {
  std::vector<std::vector<double>> rows;
  std::vector<int> classOf;
};

// Moves `settings.validationFraction` of each class's rows (rounded, at least
// one of a class of two or more, never its last) from `scaled` and `classOf`
// into the held-out set, chosen by a generator of its own seeded with
// `settings.seed`, and keeps `settings.rowCopies` in step.
HeldOut HoldOut(std::vector<std::vector<double>> &scaled, std::vector<int> &classOf,
                TrainSettings &settings) {
  if (!(settings.validationFraction < 1.0))
    throw TRunError("the validation share must be below 1");
  int numClasses = 0;
  for (int k : classOf)
    numClasses = std::max(numClasses, k + 1);
  std::vector<std::vector<size_t>> rowsOf(static_cast<size_t>(numClasses));
  for (size_t r = 0; r < classOf.size(); ++r)
    rowsOf[static_cast<size_t>(classOf[r])].push_back(r);
  std::mt19937 draw(settings.seed);
  std::vector<char> held(scaled.size(), 0);
  for (std::vector<size_t> &rows : rowsOf) {
    const size_t n = rows.size();
    if (n < 2)
      continue;
    const double wanted = std::round(settings.validationFraction * static_cast<double>(n));
    const size_t take = std::clamp<size_t>(static_cast<size_t>(wanted), 1, n - 1);
    // The first `take` of a partial shuffle.
    for (size_t i = 0; i < take; ++i) {
      const size_t j = i + static_cast<size_t>(draw() % (n - i));
      std::swap(rows[i], rows[j]);
      held[rows[i]] = 1;
    }
  }
  HeldOut out;
  std::vector<std::vector<double>> kept;
  std::vector<int> keptClass;
  std::vector<std::vector<int32_t>> copies(settings.rowCopies.size());
  std::vector<size_t> inClass(static_cast<size_t>(numClasses), 0);
  for (size_t r = 0; r < scaled.size(); ++r) {
    const size_t k = static_cast<size_t>(classOf[r]);
    const size_t position = inClass[k]++;
    if (held[r]) {
      out.rows.push_back(std::move(scaled[r]));
      out.classOf.push_back(classOf[r]);
      continue;
    }
    kept.push_back(std::move(scaled[r]));
    keptClass.push_back(classOf[r]);
    if (k < copies.size() && position < settings.rowCopies[k].size())
      copies[k].push_back(settings.rowCopies[k][position]);
  }
  scaled = std::move(kept);
  classOf = std::move(keptClass);
  settings.rowCopies = std::move(copies);
  return out;
}

// Scores the network on the held-out rows after every round, keeps the
// weights of the best round and says when to stop.
class BestKeeper {
public:
  BestKeeper(TBasicNetwork &network, const HeldOut &held, const TrainSettings &settings)
      : network_(network), held_(held), settings_(settings) {}

  bool RoundDone() {
    const std::vector<double> outputs = RecallRows(network_, held_.rows);
    const int O = network_.GetNumOutputs();
    size_t right = 0;
    for (size_t r = 0; r < held_.rows.size(); ++r)
      right += PredictedClass(&outputs[r * static_cast<size_t>(O)], O) == held_.classOf[r] ? 1 : 0;
    const double score = static_cast<double>(right) / static_cast<double>(held_.rows.size());
    scores_.scores.push_back(score);
    const bool first = scores_.scores.size() == 1;
    stale_ = !first && score < scores_.best + settings_.tolerance ? stale_ + 1 : 0;
    if (first || score > scores_.best) {
      scores_.best = score;
      if (auto *fuzzy = dynamic_cast<TVemo *>(&network_)) {
        for (int layer = 1; layer <= 4; ++layer)
          best_[layer - 1] = fuzzy->GetWeightLayer(layer);
      }
    }
    return stale_ >= settings_.roundsNoChange;
  }

  // Puts the best round's weights back (nothing without early stopping).
  void Restore() {
    auto *fuzzy = dynamic_cast<TVemo *>(&network_);
    if (fuzzy == nullptr || best_[0].empty())
      return;
    for (int layer = 1; layer <= 4; ++layer)
      fuzzy->SetWeightLayer(layer, best_[layer - 1].data());
  }

  const ValidationScores &Scores() const { return scores_; }

private:
  TBasicNetwork &network_;
  const HeldOut &held_;
  const TrainSettings &settings_;
  ValidationScores scores_;
  int32_t stale_ = 0;
  std::vector<double> best_[4];
};

} // namespace

Model Fit(const std::vector<std::vector<double>> &rows, const std::vector<std::string> &labels,
          const std::vector<std::string> &featureNames, NetworkShape shape,
          const TrainSettings &settings, TVemoBPBootStrap::ProgressFn progress,
          const std::string &classColumn, const std::vector<int32_t> &rowCopies,
          ValidationScores *validation) {
  if (!rowCopies.empty() && rows.size() == labels.size()) {
    const CopiedRows kept = WithoutUncopied(rows, labels, rowCopies);
    TrainSettings copied = settings;
    copied.rowCopies.clear();
    const EncodedClasses encoded = EncodeClasses(kept.labels);
    copied.rowCopies.resize(encoded.names.size());
    for (size_t r = 0; r < kept.rows.size(); ++r)
      copied.rowCopies[static_cast<size_t>(encoded.classOf[r])].push_back(kept.copies[r]);
    return Fit(kept.rows, kept.labels, featureNames, std::move(shape), copied, std::move(progress),
               classColumn, {}, validation);
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
  ranges.features = ComputeRanges(featureNames, rows, settings.scaling);
  const int numClasses = static_cast<int>(ranges.classes.size());
  std::unique_ptr<TBasicNetwork> network;
  double error = 0.0;
  {
    std::vector<std::vector<double>> scaled = rows;
    const long clipped = ScaleRows(ranges.features, scaled);
    if (clipped > 0) {
      std::string warning =
          ClippedWarning(clipped, "training value", " outside the robust ranges of their columns");
      warning.pop_back();
      Warn(warning);
    }
    shape.inputs = static_cast<int>(featureNames.size());
    shape.outputs = numClasses;
    if (settings.centres == CentrePlacement::kQuantile) {
      ExpandShape(shape);
      shape.inputCentres = QuantileCentres(scaled, shape.inputMFs);
    }
    TrainSettings trained = settings;
    HeldOut held;
    if (settings.validationFraction > 0.0)
      held = HoldOut(scaled, encoded.classOf, trained);
    const std::vector<std::unique_ptr<Data>> tables =
        BuildClassTables(scaled, encoded.classOf, numClasses);
    scaled.clear();
    network = CreateNetwork(shape);
    std::vector<Data *> classTables;
    for (const auto &table : tables)
      classTables.push_back(table.get());
    std::vector<std::string> names;
    for (const std::string &name : ranges.classes)
      names.push_back("class " + name);
    BestKeeper keeper(*network, held, settings);
    error = TrainNetwork(
        *network, classTables, trained, std::move(progress), names,
        held.rows.empty() ? TVemoBPBootStrap::RoundFn() : [&keeper] { return keeper.RoundDone(); });
    keeper.Restore();
    if (validation != nullptr)
      *validation = keeper.Scores();
    RequireConverged(*network, error);
  }
  return Model(std::move(ranges), std::move(network), error);
}

} // namespace kestrane
