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
//   RecallRows, PredictedClass outputs and predicted class   (eval)
//
// Fit and Predict chain the steps for the usual case. Rows are feature values
// in a fixed column order, one inner vector per row, all of equal length.
//
// CreateNetwork and TrainNetwork draw from a generator of their own, seeded
// from the shape's and the settings' seed (KQmessage/RunRandom.h): the draws
// of srand(seed) and rand(), without touching the C library's state, so fits
// in several threads run side by side and each gives what it gives alone.
//
// Failures raise TRunError or TSettingError (KQmessage/KestraneError.h),
// TException or std::bad_alloc; nothing is printed.

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
  std::vector<std::string> names;  // sorted, distinct: output k is names[k]
  std::vector<int> classOf;        // per row, the index into names
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
  std::vector<int> inputMFs;   // one count per input, or one for all; empty: 3 each
  int rules = 0;
  int outputs = 0;
  std::vector<int> outputMFs;  // one count per output, or one for all; empty: 3 each
  double weightMin = -0.5;     // range of the random rule and action weights
  double weightMax = 0.5;
  uint32_t seed = 1;           // create --seed
};

// The per-input and per-output counts of `shape`, expanded; raises TSettingError
// when a list has the wrong length or the network is larger than a network
// file may hold.
void ExpandShape(NetworkShape &shape);

// The network create writes for `shape`, as it stands before saving.
std::unique_ptr<TVemo> BuildNetwork(NetworkShape shape);
// The same network as the driver reads it back from create's file: the
// weights keep the digits the file keeps. Training this one gives the bits a
// run of create, then Kestrane, gives.
std::unique_ptr<TBasicNetwork> CreateNetwork(const NetworkShape &shape);

// ---- training

struct TrainSettings {
  std::vector<int32_t> examples;  // rows drawn per class per round; empty: the
                                  // smallest class's row count for every class
                                  // (what import writes)
  int32_t epochs = 500;           // budget of the whole run
  int32_t changeAfter = 10;       // epochs on one draw before the next
  float learningRate = 0.1f;
  float momentum = 0.5f;
  bool batch = false;
  uint32_t seed = 1;              // the draws of srand(seed), rand()
};

// Trains `network` on the class tables as the driver does and returns the
// error it prints ("Error = "). `progress`, when set, hears every epoch.
double TrainNetwork(TBasicNetwork &network, const std::vector<Data *> &classTables,
                    const TrainSettings &settings,
                    TVemoBPBootStrap::ProgressFn progress = nullptr);

// ---- answers

// The network's outputs for every row, row after row (rows x outputs values).
std::vector<double> RecallRows(TBasicNetwork &network, const std::vector<std::vector<double>> &scaled);
// The class eval counts for one row's outputs: the first largest of O >= 2
// outputs; with one output, 1 at or above 0.5, else 0.
int PredictedClass(const double *outputs, int O);

// ---- the whole chain

struct FittedModel {
  std::vector<FeatureRange> ranges;  // fitted on the training rows
  std::vector<std::string> classes;  // output k is classes[k]
  std::unique_ptr<TBasicNetwork> network;
  double error = 0.0;                // the training error the driver prints
};

// Fits the scaling on `rows`, builds the class tables, creates the network
// (inputs and outputs taken from the data; rules, counts, weights and seed
// from `shape`) and trains it. Needs at least two classes.
FittedModel Fit(const std::vector<std::vector<double>> &rows, const std::vector<std::string> &labels,
                const std::vector<std::string> &featureNames, NetworkShape shape,
                const TrainSettings &settings,
                TVemoBPBootStrap::ProgressFn progress = nullptr);

struct Prediction {
  std::vector<double> outputs;  // rows x classes
  std::vector<int> predicted;   // per row, the index into the model's classes
  long clipped = 0;             // values outside the fitted ranges
};
// Scales a copy of `rows` with the model's ranges and runs its network.
Prediction Predict(const FittedModel &model, std::vector<std::vector<double>> rows);

} // namespace kestrane

#endif
