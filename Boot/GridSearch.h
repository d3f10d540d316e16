#ifndef KESTRANE_BOOT_GRIDSEARCH_H
#define KESTRANE_BOOT_GRIDSEARCH_H

// A grid search by stratified cross-validation: every combination of the
// settings' values to try is cross-validated on the same folds, scored by
// its mean accuracy, and the best is picked (a tie goes to the smaller
// network). The tool's cv command is this with a report around it.

#include "Boot/CrossValidation.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrane {

// The settings a grid varies, in the order of the combinations: the last
// changes fastest.
enum GridAxis {
  kGridRules,
  kGridInputMFs,
  kGridOutputMFs,
  kGridEpochs,
  kGridChangeAfter,
  kGridLearningRate,
  kGridMomentum,
  kGridBatch,
  kGridSampling,     // 0 balanced, 1 proportional (ClassSampling); empty: balanced
  kGridLearnCentres, // 0 or 1 (TrainSettings::learnCentres); empty: the default
  kGridAxes
};

struct GridRequest {
  // The values to try of every axis; each at least one. The rule count may
  // be left empty: then the count import suggests for the data.
  std::array<std::vector<double>, kGridAxes> values;
  double weightMin = kDefaults.weightMin;
  double weightMax = kDefaults.weightMax;
  int folds = kDefaults.folds;
  uint32_t seed = kDefaults.seed; // of the folds, the networks and the training
  int jobs = 1;                   // combinations and folds trained at once
  // Every fold's scaling, centres and early stopping (TrainSettings).
  RangeFit scaling = kDefaults.robustScaling ? RangeFit::kRobust : RangeFit::kMinMax;
  CentrePlacement centres = CentrePlacement::kEven;
  double validationFraction = 0.0;
  // When not empty, only these combinations (indices in grid order) are
  // cross-validated, in this order; the result's points follow it.
  std::vector<long long> only;
  // Off, a grid whose every combination diverged is a result too (its best
  // is then no candidate): for a caller that searches in several parts.
  bool failWhenAllDiverge = true;
};

// The most fold trainings one grid may ask for.
inline constexpr long long kMaxGridTrainings = 1000000;

struct GridPoint {
  std::array<size_t, kGridAxes> pick{}; // per axis, the index of its value
  NetworkShape shape;
  TrainSettings settings;
  long long size = 0; // weights and centres of the network
  std::vector<FoldScore> folds;
  std::vector<double> percent; // every fold's accuracy in %; NaN where it diverged
  int diverged = 0;            // folds whose training diverged; then no mean, and no pick
  double mean = 0.0;
  double deviation = 0.0; // the sample standard deviation of percent
};

struct GridResult {
  std::vector<std::string> classes; // in output order
  int inputs = 0;
  std::vector<GridPoint> points; // every combination, in grid order
  size_t best = 0;               // the best combination that converged
};

// What a front end hears while a grid runs, so that a long search shows its
// progress and a stopped one keeps what it found. The calls come one at a
// time (from whichever thread has news), each member only when set.
struct GridListener {
  // Every fold training as it starts: combination * folds + fold, of all.
  std::function<void(long long task, long long tasks)> started;
  // Every fold training as it ends: how many have ended so far, of all.
  std::function<void(long long ended, long long tasks)> ended;
  // Every combination, in grid order, as soon as its folds and those of every
  // combination before it are scored; summed up as in the result (folds,
  // percent, diverged, mean, deviation). The classes and inputs are those
  // of the result.
  std::function<void(const GridPoint &point, size_t index)> scored;
};

// Raises TSettingError for an axis without values or a value out of range,
// TRunError for data a cross-validation cannot use (one class, a class of
// one row, more folds than rows) or a grid too large, before any training
// and before the listener hears anything. A combination that diverges in a
// fold is kept in the result, marked, and the search goes on; when every
// combination diverged, the first divergence (a TDivergedError) is raised.
GridResult GridSearch(const LabelledData &data, GridRequest request,
                      const GridListener &listener = GridListener());

} // namespace kestrane

#endif
