#ifndef KESTRANE_BOOT_AUTOSEARCH_H
#define KESTRANE_BOOT_AUTOSEARCH_H

// The self-tuning search of cv --auto and the Python FuzzyClassifierCV: a
// small fixed list of settings, the most promising first, cross-validated on
// the same folds as far as a time budget allows; the best mean wins (a tie
// goes to the smaller network, then to the earlier entry). Both front ends
// read the list from here and refit the winner on all rows with Fit.
//
// The budget rule: the first entry always runs, and its wall time is the
// measure. Every later entry's time is predicted from it by its cost
// (epochs x rows drawn per round x network size, relative to the first's);
// the longest run of entries, in list order, whose predicted times fit what
// is left of the budget runs next, all of them together on the thread pool
// (which makes them faster than predicted on a quiet machine). Nothing is
// cut short once started. When every entry fits, the result depends on the
// seed alone; when the budget cuts the list, how many entries ran depends on
// the machine's speed, and the result says so (`cut`): asking for that count
// (`maxCombinations`) repeats it exactly anywhere.

#include "Boot/GridSearch.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kestrane {

// One entry of the list. Settings left out keep their defaults (kDefaults;
// the scaling and the centres as the Python estimator has them);
// the rule count is a multiple of the starter count import suggests.
struct AutoCandidate {
  double rulesFactor; // times StarterRuleCount, rounded, at least 1
  int inputMFs;
  double learningRate;
  int epochs;
  ClassSampling sampling;
};

// The list, in the order it is tried.
const std::vector<AutoCandidate> &AutoGrid();

// The front ends' defaults: seconds of search, and folds.
inline constexpr double kAutoTimeBudget = 300.0;
inline constexpr int kAutoFolds = 3;

struct AutoRequest {
  double weightMin = kDefaults.weightMin;
  double weightMax = kDefaults.weightMax;
  int folds = kAutoFolds;
  uint32_t seed = kDefaults.seed;
  int jobs = 1;
  double timeBudget = kAutoTimeBudget; // seconds of the search (not the refit); 0: no limit
  int maxCombinations = 0;             // at most the first this many entries; 0: all
};

struct AutoResult {
  // The values of every axis; each point's `pick` indexes them.
  GridRequest grid;
  // The entries that ran, in list order (entries that resolve to the same
  // settings as an earlier one, as with a starter count of 1, are left out).
  GridResult search;
  size_t entries = 0;            // distinct entries in the list for these data
  bool cut = false;              // the budget left entries out
  double firstSeconds = 0.0;     // the wall time of the first entry
  double seconds = 0.0;          // of the whole search
  double predictedSeconds = 0.0; // the first's time plus the predicted rest
  // The winner's settings, for the refit on all rows.
  NetworkShape shape;
  TrainSettings settings;
};

// Raises as GridSearch does (bad data, a setting out of range, every entry
// diverged). `started` hears every fold training as it starts: the entry's
// position among those planned, the fold, and how many entries are planned
// (the whole list until the first entry's time is known). `scored` hears
// every entry, in list order, as soon as it and those before it are scored,
// with the grid its picks index.
AutoResult AutoSearch(
    const LabelledData &data, const AutoRequest &request,
    const std::function<void(long long entry, int fold, long long planned)> &started = nullptr,
    const std::function<void(const GridRequest &grid, const GridPoint &point)> &scored = nullptr);

} // namespace kestrane

#endif
