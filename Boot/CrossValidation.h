#ifndef KESTRANE_BOOT_CROSSVALIDATION_H
#define KESTRANE_BOOT_CROSSVALIDATION_H

// Stratified k-fold cross-validation on the fit pipeline: in every fold the
// scaling is fitted on the fold's training rows, the network is created and
// trained in memory and the held-out rows are scored as eval counts them.

#include "Boot/FitPipeline.h"

#include <cstdint>
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
};

// The rows and classes cross-validation works on, unscaled.
struct LabelledData {
  std::vector<std::vector<double>> rows;
  std::vector<std::string> labels;
  std::vector<std::string> featureNames;
  std::string classColumn;  // for messages; may be empty
};

// Fits on the rows outside `fold` and scores the rows in it.
FoldScore ScoreFold(const LabelledData &data, const std::vector<int> &foldOf, int fold,
                    const NetworkShape &shape, const TrainSettings &settings);

// Runs task(0) ... task(count - 1) and returns their scores in task order.
// With jobs > 1 each task runs in a child process of its own, at most `jobs`
// at a time: the C library's rand state is per process, so the scores are
// those of a run one after the other. `started`, when set, hears each task
// as it starts. A task's failure is raised as TRunError with its message.
std::vector<FoldScore> RunTasks(int count, int jobs, const std::function<FoldScore(int)> &task,
                                const std::function<void(int)> &started = nullptr);

} // namespace kestrane

#endif
