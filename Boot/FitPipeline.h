#ifndef KESTRANE_BOOT_FITPIPELINE_H
#define KESTRANE_BOOT_FITPIPELINE_H

// From rows of numbers and their classes to a trained fuzzy network and its
// answers, in memory. Every step does exactly what the programs do, so that a
// seed gives the same network and the same answers either way:
//
//   ComputeRanges, ScaleRows  min-max scaling into [0, 1]   (import; import --ranges)
//   EncodeClasses             class names sorted, indices   (import)
//   BuildClassTables          one data table per class      (import's class files)
//   CreateNetwork             the initial TVemo              (create --seed)
//   TrainNetwork              bootstrap training             (the Kestrane driver)
//
// Fit chains the steps for the usual case and gives a Model (Boot/Model.h),
// which answers for new rows. Rows are feature values
// in a fixed column order, one inner vector per row, all of equal length.
//
// CreateNetwork and TrainNetwork draw from a generator of their own, seeded
// from the shape's and the settings' seed (KQmessage/RunRandom.h): the draws
// of srand(seed) and rand(), without touching the C library's state, so fits
// in several threads run side by side and each gives what it gives alone.
//
// Failures raise TRunError or TSettingError (KQmessage/KestraneError.h),
// TException or std::bad_alloc; nothing is printed.

#include "Boot/Model.h"
#include "Boot/Settings.h"
#include "Boot/TVemoBPBootStrap.h"
#include "DataTools/CsvImport/FeatureScaling.h"
#include "Vemo/TVemo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrane {

class Data;

// ---- scaling: ComputeRanges(names, rows) and ScaleRows(ranges, rows) of
//      FeatureScaling.h, included here.

// ---- classes

struct EncodedClasses {
  std::vector<std::string> names; // sorted, distinct: output k is names[k]
  std::vector<int> classOf;       // per row, the index into names
};
EncodedClasses EncodeClasses(const std::vector<std::string> &labels);

// One table per class (in index order) of the rows of that class, in row
// order: the scaled inputs and the one-hot expected outputs over
// `numClasses` outputs. These are the tables import writes to its class files.
std::vector<std::unique_ptr<Data>> BuildClassTables(const std::vector<std::vector<double>> &scaled,
                                                    const std::vector<int> &classOf,
                                                    int numClasses);

// ---- the network

struct NetworkShape {
  int inputs = 0;
  std::vector<int> inputMFs; // one count per input, or one for all; empty: 3 each
  int rules = 0;
  int outputs = 0;
  std::vector<int> outputMFs;             // one count per output, or one for all; empty: 3 each
  double weightMin = kDefaults.weightMin; // range of the random rule and action weights
  double weightMax = kDefaults.weightMax;
  uint32_t seed = kDefaults.seed; // create --seed
  // Per input, its condition centres in scaled units, increasing, one per
  // membership function; empty: evenly over [0, 1] (what create has always written).
  std::vector<std::vector<double>> inputCentres{};
};

// Where an input's membership functions are centred: evenly over [0, 1], or
// at the quantiles 0, 1/(m-1), ..., 1 of the input's (scaled) values, so that
// each function covers about as many rows. An input whose quantiles fall
// closer together than a tenth of the even spacing (mostly one value, a 0/1
// column) keeps the even centres.
enum class CentrePlacement { kEven, kQuantile };

// The quantile centres of every input of `scaled` (rows of equal length,
// missing values passed over), `mfs` per input (expanded counts).
std::vector<std::vector<double>> QuantileCentres(const std::vector<std::vector<double>> &scaled,
                                                 const std::vector<int> &mfs);

// The per-input and per-output counts of `shape`, expanded; raises TSettingError
// when a list has the wrong length, the weight range is not a finite span, or
// the network is larger than a network file may hold.
void ExpandShape(NetworkShape &shape);

// The network create writes for `shape`, as it stands before saving.
std::unique_ptr<TVemo> BuildNetwork(NetworkShape shape);
// The same network as the driver reads it back from create's file: the
// weights keep the digits the file keeps. Training this one gives the bits a
// run of create, then Kestrane, gives.
std::unique_ptr<TBasicNetwork> CreateNetwork(const NetworkShape &shape);

// ---- training

// How a round's rows are shared among the classes when no per-class counts are
// given. Balanced: the same count from every class (by default the smallest
// class's row count: what import has always written). Proportional: each class
// its share of the rows, at least one row each; by default all the rows, or
// three balanced rounds' worth when that is fewer (so a round costs at most
// three balanced ones).
enum class ClassSampling { kBalanced, kProportional };

struct TrainSettings {
  std::vector<int32_t> examples; // rows drawn per class per round; empty: from
                                 // `sampling` and `examplesPerRound`
  ClassSampling sampling = ClassSampling::kBalanced;
  int64_t examplesPerRound = 0; // rows per round over all classes; 0: the default of `sampling`
  // A class asked for more rows than it has gives all of them and the rest drawn
  // with replacement; off, it fails ("Insufficient rows"), as the driver always
  // has. Proportional sampling, and a per-round count, turn it on.
  bool withReplacement = false;
  int32_t epochs = kDefaults.epochs;           // budget of the whole run
  int32_t changeAfter = kDefaults.changeAfter; // epochs on one draw before the next
  float learningRate = static_cast<float>(kDefaults.learningRate);
  float momentum = static_cast<float>(kDefaults.momentum);
  bool batch = kDefaults.batch;
  // Training moves the input membership centres too (Vemo/CentreLearning.h).
  bool learnCentres = kDefaults.learnCentres;
  uint32_t seed = kDefaults.seed; // the draws of srand(seed), rand()
  // Per class table, how many times each of its rows counts in the draws: a
  // row of k copies is drawn as k copies of it in a row would be, and the
  // smallest class's count of copies is the default `examples`. Empty (or an
  // empty class): each row once, as the programs draw.
  std::vector<std::vector<int32_t>> rowCopies;

  // Fit only (the steps above it take their parts explicitly):
  // How each column's range is fitted: by default as import fits it.
  RangeFit scaling = kDefaults.robustScaling ? RangeFit::kRobust : RangeFit::kMinMax;
  CentrePlacement centres = CentrePlacement::kEven; // where the input functions sit
  // Early stopping: above 0, this share of each class's rows (at least one
  // row of a class of two or more) is held out, the network is scored on it
  // after every round (accuracy), and the best network seen is kept. The run
  // ends when `roundsNoChange` rounds in a row improved the best score by
  // less than `tolerance`. The held-out rows are chosen by `seed`.
  double validationFraction = 0.0;
  int32_t roundsNoChange = 10;
  double tolerance = 1e-4;
};

// After an early-stopped Fit: the validation score of every round and the
// best (the kept network's). Empty without early stopping.
struct ValidationScores {
  std::vector<double> scores;
  double best = 0.0;
};

// Refuses (TSettingError) what no fit should start from: a learning rate or
// momentum the trainer would read otherwise than given (Settings.h), and a
// negative learning rate, whose every step moves away from the targets. The
// driver only warns: a parameter file runs as it always has.
void CheckTrainSettings(const TrainSettings &settings);

// The rows each class gives every round, for classes of `rows` rows each:
// `settings.examples` when given, else what `sampling` and `examplesPerRound`
// ask for (TSettingError for a negative count or too many rows).
std::vector<int32_t> ClassExamples(const TrainSettings &settings, const std::vector<int32_t> &rows);
// Whether the draws of `settings` may repeat rows.
bool DrawsWithReplacement(const TrainSettings &settings);

// Trains `network` on the class tables as the driver does and returns the
// error it prints ("Error = "). `progress`, when set, hears every epoch.
// `classNames` ("class setosa") name the tables in a refusal of more examples than a class has
// rows (a TRunError, before any training).
// `roundDone`, when set, hears the end of every round; true ends the run.
double TrainNetwork(TBasicNetwork &network, const std::vector<Data *> &classTables,
                    const TrainSettings &settings, TVemoBPBootStrap::ProgressFn progress = nullptr,
                    const std::vector<std::string> &classNames = {},
                    TVemoBPBootStrap::RoundFn roundDone = nullptr);

// The check every front end makes after training. NaN compares false with any
// threshold and reads as a small error, so a diverged network would pass for
// a result: raises TDivergedError ("the error is nan and 147 weights are not
// finite numbers") when `error` or a weight or centre of `network` is not a
// finite number. `after` ends the message.
void RequireConverged(TBasicNetwork &network, double error, const std::string &after = "");

// ---- the whole chain

// Fits the scaling on `rows`, encodes the classes, builds the class tables,
// creates the network (inputs and outputs taken from the data; rules, counts,
// weights and seed from `shape`) and trains it. Needs at least two classes;
// a training that diverges raises TDivergedError (RequireConverged).
//
// `rowCopies`, when not empty, gives every row a count of copies: the fit is
// the fit of the rows repeated that many times each (a row of 0 copies is left
// out, of the scaling too), without making the copies.
//
// `settings.scaling`, `centres` and `validationFraction` choose the robust
// range, quantile centres and early stopping; `validation`, when given,
// receives the scores of an early-stopped fit.
Model Fit(const std::vector<std::vector<double>> &rows, const std::vector<std::string> &labels,
          const std::vector<std::string> &featureNames, NetworkShape shape,
          const TrainSettings &settings, TVemoBPBootStrap::ProgressFn progress = nullptr,
          const std::string &classColumn = "class", const std::vector<int32_t> &rowCopies = {},
          ValidationScores *validation = nullptr);

} // namespace kestrane

#endif
