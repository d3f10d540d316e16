#ifndef KESTRANE_BOOT_CROSSVALIDATION_H
#define KESTRANE_BOOT_CROSSVALIDATION_H

// Stratified k-fold cross-validation on the fit pipeline: in every fold the
// scaling is fitted on the fold's training rows, the network is created and
// trained in memory and the held-out rows are scored as eval counts them.

#include "Boot/FitPipeline.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace kestrane {

// The fold (0 to folds - 1) of every row. Each class's rows are shuffled with
// SplitRandom(seed), the classes in index order, and dealt to the folds in
// turn, the count running on from class to class: every fold gets its share
// of every class and the fold sizes differ by at most one.
std::vector<int> StratifiedFolds(const std::vector<int> &classOf, int numClasses, int folds,
                                 uint64_t seed);

struct FoldScore {
  long correct = 0;
  long rows = 0;
  std::exception_ptr diverged; // the TDivergedError of a training that diverged
};

// The rows and classes cross-validation works on, unscaled.
struct LabelledData {
  std::vector<std::vector<double>> rows;
  std::vector<std::string> labels;
  std::vector<std::string> featureNames;
  std::string classColumn; // for messages; may be empty
};

// Fits on the rows outside `fold` and scores the rows in it. A training that
// diverges is a score too (diverged set, nothing correct): a grid goes on
// past a setting that runs away, and the caller decides.
FoldScore ScoreFold(const LabelledData &data, const std::vector<int> &foldOf, int fold,
                    const NetworkShape &shape, const TrainSettings &settings);

// Runs task(0) ... task(count - 1) on at most `jobs` threads (the caller's
// among them) and returns their scores in task order. Tasks start in index
// order; each fit draws from its own generator, so the scores do not depend
// on `jobs`; every thread reports to the caller's diagnostic sink. `started`,
// when set, hears each task as it starts, one call at a time. When tasks
// fail, no further task starts, the running ones finish, and the failure of
// the lowest task index is rethrown as it was raised: every task below it
// has run, so which failure comes out does not depend on timing.
std::vector<FoldScore> RunTasks(int count, int jobs, const std::function<FoldScore(int)> &task,
                                const std::function<void(int)> &started = nullptr);

} // namespace kestrane

#endif
