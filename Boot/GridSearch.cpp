#include "Boot/GridSearch.h"

#include "DataTools/CsvImport/StarterParameters.h"
#include "KQmessage/KestraneError.h"
#include "KQmessage/QuotedField.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace kestrane {

namespace {

constexpr Setting kAxisSetting[kGridAxes] = {
    Setting::kRules,       Setting::kInputMFs,     Setting::kOutputMFs, Setting::kEpochs,
    Setting::kChangeAfter, Setting::kLearningRate, Setting::kMomentum,  Setting::kBatch,
    Setting::kExamples,    Setting::kLearnCentres};

void CheckAxes(const GridRequest &request) {
  const double least[kGridAxes] = {1, 2, 2, 1, 1, -HUGE_VAL, -HUGE_VAL, 0, 0, 0};
  for (int k = 0; k < kGridAxes; ++k) {
    if (request.values[k].empty())
      throw TSettingError(kAxisSetting[k], "no value to try");
    for (double v : request.values[k]) {
      if (!std::isfinite(v) || v < least[k]) {
        throw TSettingError(kAxisSetting[k], "cannot be " + std::to_string(v));
      }
      if ((k == kGridSampling || k == kGridLearnCentres) && v != 0.0 && v != 1.0)
        throw TSettingError(kAxisSetting[k], "cannot be " + std::to_string(v));
      if (k <= kGridChangeAfter && (v != std::floor(v) || v > 2000000000)) {
        throw TSettingError(kAxisSetting[k], std::to_string(v) + " is not a count");
      }
    }
  }
}

void CheckData(const LabelledData &data, const EncodedClasses &classes, int folds) {
  const std::string column =
      data.classColumn.empty() ? std::string() : " in column " + QuotedField(data.classColumn);
  if (classes.names.size() < 2) {
    throw TRunError("only one class (" +
                    QuotedField(classes.names.empty() ? "" : classes.names[0]) + ")" + column +
                    "; a classifier needs at least two");
  }
  std::vector<long> perClass(classes.names.size(), 0);
  for (int k : classes.classOf)
    ++perClass[static_cast<size_t>(k)];
  for (size_t k = 0; k < perClass.size(); ++k) {
    if (perClass[k] < 2) {
      throw TRunError("class " + QuotedField(classes.names[k]) +
                      " has only one row; every class needs at least two");
    }
  }
  if (folds < 2)
    throw TRunError("cross-validation needs at least 2 folds, not " + std::to_string(folds));
  if (folds > static_cast<long>(data.rows.size())) {
    throw TRunError("--folds " + std::to_string(folds) + " exceeds the " +
                    std::to_string(data.rows.size()) + " rows");
  }
}

// A combination's percentages, mean and deviation, from its fold scores.
void SumUp(GridPoint &o) {
  o.percent.clear();
  o.diverged = 0;
  for (const FoldScore &f : o.folds) {
    o.percent.push_back(f.diverged ? std::nan("") : 100.0 * f.correct / f.rows);
    if (f.diverged)
      ++o.diverged;
  }
  if (o.diverged != 0) {
    o.mean = o.deviation = std::nan("");
    return;
  }
  const double folds = static_cast<double>(o.folds.size());
  o.mean = 0.0;
  for (double p : o.percent)
    o.mean += p;
  o.mean /= folds;
  o.deviation = 0.0;
  for (double p : o.percent)
    o.deviation += (p - o.mean) * (p - o.mean);
  o.deviation = std::sqrt(o.deviation / (folds - 1));
}

} // namespace

GridResult GridSearch(const LabelledData &data, GridRequest request, const GridListener &listener) {
  GridResult result;
  const EncodedClasses classes = EncodeClasses(data.labels);
  CheckData(data, classes, request.folds);
  result.classes = classes.names;
  result.inputs = static_cast<int>(data.featureNames.size());
  const int numClasses = static_cast<int>(classes.names.size());
  if (request.values[kGridRules].empty()) {
    request.values[kGridRules] = {static_cast<double>(StarterRuleCount(result.inputs, numClasses))};
  }
  if (request.values[kGridSampling].empty())
    request.values[kGridSampling] = {0.0};
  if (request.values[kGridLearnCentres].empty())
    request.values[kGridLearnCentres] = {kDefaults.learnCentres ? 1.0 : 0.0};
  CheckAxes(request);

  // Every combination, the last axis changing fastest; counted in 64 bits
  // before any is made, since a few long lists multiply past any int.
  long long combinations = 1;
  for (const std::vector<double> &values : request.values) {
    combinations *= static_cast<long long>(values.size());
    if (combinations * request.folds > kMaxGridTrainings) {
      throw TRunError("the grid asks for more than " + std::to_string(kMaxGridTrainings) +
                      " trainings (combinations x folds); try fewer values");
    }
  }
  for (long long c : request.only) {
    if (c < 0 || c >= combinations)
      throw TRunError("combination " + std::to_string(c) + " is not in the grid");
  }
  const bool some = !request.only.empty();
  result.points.resize(some ? request.only.size() : static_cast<size_t>(combinations));
  combinations = static_cast<long long>(result.points.size());
  for (size_t c = 0; c < result.points.size(); ++c) {
    GridPoint &point = result.points[c];
    size_t rest = some ? static_cast<size_t>(request.only[c]) : c;
    for (int k = kGridAxes - 1; k >= 0; --k) {
      point.pick[k] = rest % request.values[k].size();
      rest /= request.values[k].size();
    }
    const auto value = [&](GridAxis axis) { return request.values[axis][point.pick[axis]]; };
    NetworkShape &shape = point.shape;
    shape.inputs = result.inputs;
    shape.outputs = numClasses;
    shape.rules = static_cast<int>(value(kGridRules));
    shape.inputMFs = {static_cast<int>(value(kGridInputMFs))};
    shape.outputMFs = {static_cast<int>(value(kGridOutputMFs))};
    shape.weightMin = request.weightMin;
    shape.weightMax = request.weightMax;
    shape.seed = request.seed;
    TrainSettings &settings = point.settings;
    settings.epochs = static_cast<int32_t>(value(kGridEpochs));
    settings.changeAfter = static_cast<int32_t>(value(kGridChangeAfter));
    settings.learningRate = static_cast<float>(value(kGridLearningRate));
    settings.momentum = static_cast<float>(value(kGridMomentum));
    settings.batch = value(kGridBatch) != 0.0;
    settings.sampling =
        value(kGridSampling) != 0.0 ? ClassSampling::kProportional : ClassSampling::kBalanced;
    settings.learnCentres = value(kGridLearnCentres) != 0.0;
    settings.seed = request.seed;
    settings.scaling = request.scaling;
    settings.centres = request.centres;
    settings.validationFraction = request.validationFraction;
    // Checked before any training: a too-large network or an unusable rate fails at once.
    NetworkShape expanded = shape;
    ExpandShape(expanded);
    CheckTrainSettings(settings);
    const long long conditions = static_cast<long long>(result.inputs) * expanded.inputMFs[0];
    const long long actions = static_cast<long long>(numClasses) * expanded.outputMFs[0];
    point.size = shape.rules * (conditions + actions) + conditions + actions;
  }

  const int folds = request.folds;
  const std::vector<int> foldOf = StratifiedFolds(classes.classOf, numClasses, folds, request.seed);
  const int tasks = static_cast<int>(combinations * folds);
  // The listener's side: scores as they come, and the combinations still
  // short of folds, so that each is told in grid order as soon as it can be.
  std::mutex telling;
  std::vector<FoldScore> early(listener.scored ? static_cast<size_t>(tasks) : 0);
  std::vector<int> unscored(result.points.size(), folds);
  size_t told = 0;
  long long ended = 0;
  const auto tell = [&](int task, const FoldScore &score) {
    const std::lock_guard<std::mutex> hold(telling);
    if (listener.ended)
      listener.ended(++ended, tasks);
    if (!listener.scored)
      return;
    early[static_cast<size_t>(task)] = score;
    --unscored[static_cast<size_t>(task / folds)];
    for (; told < result.points.size() && unscored[told] == 0; ++told) {
      GridPoint &point = result.points[told];
      point.folds.assign(early.begin() + static_cast<long>(told * folds),
                         early.begin() + static_cast<long>((told + 1) * folds));
      SumUp(point);
      listener.scored(point, told);
    }
  };
  const std::vector<FoldScore> scores = RunTasks(
      tasks, std::max(1, std::min(request.jobs, tasks)),
      [&](int task) {
        const GridPoint &point = result.points[static_cast<size_t>(task / folds)];
        FoldScore score = ScoreFold(data, foldOf, task % folds, point.shape, point.settings);
        if (listener.ended || listener.scored)
          tell(task, score);
        return score;
      },
      [&](int task) {
        if (listener.started) {
          const std::lock_guard<std::mutex> hold(telling);
          listener.started(task, tasks);
        }
      });

  std::exception_ptr firstDivergence;
  bool converged = false;
  for (size_t c = 0; c < result.points.size(); ++c) {
    GridPoint &o = result.points[c];
    o.folds.assign(scores.begin() + static_cast<long>(c * folds),
                   scores.begin() + static_cast<long>((c + 1) * folds));
    SumUp(o);
    for (const FoldScore &f : o.folds) {
      if (f.diverged && !firstDivergence)
        firstDivergence = f.diverged;
    }
    if (o.diverged != 0)
      continue;
    const GridPoint &b = result.points[result.best];
    if (!converged || o.mean > b.mean || (o.mean == b.mean && o.size < b.size))
      result.best = c;
    converged = true;
  }
  if (!converged && request.failWhenAllDiverge)
    std::rethrow_exception(firstDivergence);
  return result;
}

} // namespace kestrane
