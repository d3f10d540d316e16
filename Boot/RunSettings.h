#ifndef KESTRANE_BOOT_RUNSETTINGS_H
#define KESTRANE_BOOT_RUNSETTINGS_H

// The settings of one training run as read from the parameter file.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrane {

// Marks that no weight file was given; it is never opened.
inline constexpr const char *kNoWeightFile = "nonamespecified.wgt";

struct RunSettings {
  std::string weightFile = kNoWeightFile;
  std::string destinationFile = "trained.wgt";
  int32_t dataClasses = 0;            // #DataClasses
  std::vector<std::string> dataFiles; // DataFile, one per class in order
  std::vector<int32_t> examples;      // Examples, one per class in order
  int32_t epochs = 0;                 // Epochs: budget of the whole run
  int32_t changeAfter = 0;            // ChangeAfter: epochs per drawn training set
  float learningRate = 0.5f;
  float momentum = 0.5f;
  bool batch = false;
  // WithReplacement = true: a class whose Examples exceed its rows gives all of
  // them and the rest drawn with replacement; absent or false, such a run
  // fails ("Insufficient rows"), as it always has.
  bool withReplacement = false;
  // LearnCentres = true: training moves the input membership centres too;
  // absent or false, they stay as the weight file has them.
  bool learnCentres = false;
  int32_t featureCount = 0;      // #Features; 0 keeps every input column
  std::vector<int32_t> features; // Features: 0-based input columns to keep
  bool hasSeed = false;          // Seed given: the run draws from it, not the clock
  int32_t seed = 0;
};

} // namespace kestrane

#endif
