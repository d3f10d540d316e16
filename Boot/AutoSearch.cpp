#include "Boot/AutoSearch.h"

#include "DataTools/CsvImport/StarterParameters.h"
#include "KQmessage/KestraneError.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kestrane {

namespace {

constexpr ClassSampling kProportional = ClassSampling::kProportional;
constexpr ClassSampling kBalanced = ClassSampling::kBalanced;

// The defaults of the estimator first, then one change at a time, the cheap
// ones before the dear ones (a budget keeps a prefix), then a few pairs of
// the changes that help most on the accuracy benchmark's sets. A new setting
// joins as a column here and an axis of the grid.
const std::vector<AutoCandidate> kList = {
    // rules x, input MFs, learning rate, epochs, sampling
    {1.0, 3, 0.1, 500, kProportional},  {1.0, 3, 0.3, 500, kProportional},
    {0.5, 3, 0.1, 500, kProportional},  {1.0, 3, 0.1, 500, kBalanced},
    {1.0, 5, 0.1, 500, kProportional},  {2.0, 3, 0.1, 500, kProportional},
    {1.0, 3, 0.1, 1000, kProportional}, {1.0, 3, 0.03, 1000, kProportional},
    {2.0, 5, 0.1, 500, kProportional},  {1.0, 5, 0.3, 1000, kProportional},
    {2.0, 3, 0.3, 1000, kProportional}, {2.0, 5, 0.1, 1000, kProportional},
};

size_t IndexOf(std::vector<double> &values, double value) {
  const auto at = std::find(values.begin(), values.end(), value);
  if (at != values.end())
    return static_cast<size_t>(at - values.begin());
  values.push_back(value);
  return values.size() - 1;
}

// An entry's work relative to others': epochs x rows a round draws x the
// network's weights and centres (as GridPoint::size counts them).
double Cost(const GridRequest &grid, const std::array<size_t, kGridAxes> &pick, int inputs,
            const std::vector<int32_t> &classRows) {
  const auto value = [&](GridAxis axis) { return grid.values[axis][pick[axis]]; };
  TrainSettings settings;
  settings.sampling =
      value(kGridSampling) != 0.0 ? ClassSampling::kProportional : ClassSampling::kBalanced;
  double rows = 0.0;
  for (int32_t n : ClassExamples(settings, classRows))
    rows += n;
  const double conditions = inputs * value(kGridInputMFs);
  const double actions = static_cast<double>(classRows.size()) * value(kGridOutputMFs);
  const double size = value(kGridRules) * (conditions + actions) + conditions + actions;
  return value(kGridEpochs) * rows * size;
}

} // namespace

const std::vector<AutoCandidate> &AutoGrid() { return kList; }

AutoResult AutoSearch(const LabelledData &data, const AutoRequest &request,
                      const std::function<void(long long, int, long long)> &started,
                      const std::function<void(const GridRequest &, const GridPoint &)> &scored) {
  AutoResult out;
  const EncodedClasses classes = EncodeClasses(data.labels);
  const int starter = StarterRuleCount(static_cast<int>(data.featureNames.size()),
                                       static_cast<int>(classes.names.size()));

  // Every axis holds the values the list uses, in order of appearance; each
  // entry is one combination of that grid.
  GridRequest &grid = out.grid;
  grid.weightMin = request.weightMin;
  grid.weightMax = request.weightMax;
  grid.folds = request.folds;
  grid.seed = request.seed;
  grid.jobs = request.jobs;
  grid.failWhenAllDiverge = false;
  // Scaled and placed as the Python estimator does by default, in both front
  // ends, so that a search gives the same winner and refit in either.
  grid.scaling = kDefaults.robustScaling ? RangeFit::kRobust : RangeFit::kMinMax;
  grid.centres = kDefaults.quantileCentres ? CentrePlacement::kQuantile : CentrePlacement::kEven;
  grid.values[kGridOutputMFs] = {static_cast<double>(kDefaults.outputMFs)};
  grid.values[kGridChangeAfter] = {static_cast<double>(kDefaults.changeAfter)};
  grid.values[kGridMomentum] = {kDefaults.momentum};
  grid.values[kGridBatch] = {kDefaults.batch ? 1.0 : 0.0};
  grid.values[kGridLearnCentres] = {kDefaults.learnCentres ? 1.0 : 0.0};
  std::vector<std::array<size_t, kGridAxes>> picks;
  for (const AutoCandidate &c : kList) {
    std::array<size_t, kGridAxes> pick{};
    const double rules = std::max(1.0, std::round(c.rulesFactor * starter));
    pick[kGridRules] = IndexOf(grid.values[kGridRules], rules);
    pick[kGridInputMFs] = IndexOf(grid.values[kGridInputMFs], c.inputMFs);
    pick[kGridEpochs] = IndexOf(grid.values[kGridEpochs], c.epochs);
    pick[kGridLearningRate] = IndexOf(grid.values[kGridLearningRate], c.learningRate);
    pick[kGridSampling] =
        IndexOf(grid.values[kGridSampling], c.sampling == kProportional ? 1.0 : 0.0);
    if (std::find(picks.begin(), picks.end(), pick) == picks.end())
      picks.push_back(pick);
  }
  std::vector<long long> order;
  for (const std::array<size_t, kGridAxes> &pick : picks) {
    long long c = 0;
    for (int k = 0; k < kGridAxes; ++k)
      c = c * static_cast<long long>(grid.values[k].size()) + static_cast<long long>(pick[k]);
    order.push_back(c);
  }
  out.entries = order.size();
  long long planned = static_cast<long long>(order.size());
  if (request.maxCombinations > 0)
    planned = std::min(planned, static_cast<long long>(request.maxCombinations));

  const int folds = request.folds;
  const auto run = [&](size_t from, size_t to) {
    GridRequest part = grid;
    part.only.assign(order.begin() + static_cast<long>(from),
                     order.begin() + static_cast<long>(to));
    GridListener listener;
    listener.started = [&](long long task, long long) {
      if (started)
        started(static_cast<long long>(from) + task / folds, static_cast<int>(task % folds),
                planned);
    };
    if (scored)
      listener.scored = [&](const GridPoint &point, size_t) { scored(grid, point); };
    return GridSearch(data, part, listener);
  };

  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  out.search = run(0, 1);
  out.firstSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  out.predictedSeconds = out.firstSeconds;

  if (planned > 1 && request.timeBudget > 0.0) {
    std::vector<int32_t> classRows(classes.names.size(), 0);
    for (int k : classes.classOf)
      ++classRows[static_cast<size_t>(k)];
    // Predicted from the first entry's wall time alone: on a machine
    // others share, folds that share the threads run slower than one alone,
    // so counting on the pool filling better overran budgets.
    const int inputs = static_cast<int>(data.featureNames.size());
    const double firstCost = Cost(grid, picks[0], inputs, classRows);
    long long fits = 1;
    for (; fits < planned; ++fits) {
      const double seconds = out.firstSeconds *
                             Cost(grid, picks[static_cast<size_t>(fits)], inputs, classRows) /
                             firstCost;
      if (out.predictedSeconds + seconds > request.timeBudget)
        break;
      out.predictedSeconds += seconds;
    }
    out.cut = fits < planned;
    planned = fits;
  }

  if (planned > 1) {
    GridResult rest = run(1, static_cast<size_t>(planned));
    for (GridPoint &point : rest.points)
      out.search.points.push_back(std::move(point));
  }

  out.seconds = std::chrono::duration<double>(Clock::now() - start).count();

  // The best mean; a tie to the smaller network, then to the earlier entry.
  std::exception_ptr firstDivergence;
  bool converged = false;
  for (size_t c = 0; c < out.search.points.size(); ++c) {
    const GridPoint &o = out.search.points[c];
    if (o.diverged != 0) {
      for (const FoldScore &f : o.folds) {
        if (f.diverged && !firstDivergence)
          firstDivergence = f.diverged;
      }
      continue;
    }
    const GridPoint &b = out.search.points[out.search.best];
    if (!converged || o.mean > b.mean || (o.mean == b.mean && o.size < b.size))
      out.search.best = c;
    converged = true;
  }
  if (!converged)
    std::rethrow_exception(firstDivergence);
  out.shape = out.search.points[out.search.best].shape;
  out.settings = out.search.points[out.search.best].settings;
  return out;
}

} // namespace kestrane
