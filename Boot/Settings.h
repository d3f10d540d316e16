#ifndef KESTRANE_BOOT_SETTINGS_H
#define KESTRANE_BOOT_SETTINGS_H

// The one table of defaults that every front end starts from (the tool's
// options, the parameter file import writes, cv's grid, the Python
// estimator), and the checks that a setting reaches the trainer as given.
//
// The parameter file's own initial values (LearningRate and Momentum 0.5 when
// a file leaves them out) belong to the file format and live with its reader
// (Boot/RunSettings.h); they are not defaults a front end offers.

#include "KQmessage/KestraneError.h"

#include <cstdint>
#include <string>

namespace kestrane {

struct FitDefaults {
  int inputMFs = 3;
  int outputMFs = 3;
  double weightMin = -0.5;
  double weightMax = 0.5;
  int epochs = 500;
  int changeAfter = 10;
  double learningRate = 0.1;
  double momentum = 0.5;
  bool batch = false;
  bool learnCentres = false;
  uint32_t seed = 1;
  int folds = 5;
  // import, cv and Python fit each column's range robustly (FeatureScaling.h):
  // on the accuracy benchmark it changed no set by more than half a point,
  // and one row in the wrong unit no longer squeezes the others together.
  bool robustScaling = true;
  // Python centres the input functions at the data's quantiles; create keeps
  // even centres unless given the rows (--centres quantile --data).
  bool quantileCentres = true;
};
inline constexpr FitDefaults kDefaults{};

// The default of `setting` as the tool shows and reads it ("0.1", "-0.5,0.5").
// The rule count has none: it depends on the data (StarterRuleCount).
std::string DefaultText(Setting setting);

// The learning rate and the momentum travel to the trainer as text with six
// decimals: the value the trainer reads for `value`.
double AsTrainerReads(double value);

// Empty when the trainer reads `value` as given (to 0.5 %); otherwise what it
// reads instead, in words ("1e-07 reaches the trainer as 0: ..."), for a
// warning or a refusal.
std::string TrainerReadsOtherwise(double value);

// Refuses (TSettingError) a learning rate or momentum that is not a finite
// number or that the trainer would read otherwise than given.
void RequireTrainerReadsAsGiven(Setting setting, double value);

// The smallest learning rate the trainer reads as more than 0.
inline constexpr double kSmallestTrainedRate = 0.000001;

} // namespace kestrane

#endif
