#include "Boot/Settings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrane {

namespace {

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

} // namespace

std::string DefaultText(Setting setting) {
  switch (setting) {
  case Setting::kInputMFs:
    return std::to_string(kDefaults.inputMFs);
  case Setting::kOutputMFs:
    return std::to_string(kDefaults.outputMFs);
  case Setting::kWeightRange:
    return Number(kDefaults.weightMin) + "," + Number(kDefaults.weightMax);
  case Setting::kEpochs:
    return std::to_string(kDefaults.epochs);
  case Setting::kChangeAfter:
    return std::to_string(kDefaults.changeAfter);
  case Setting::kLearningRate:
    return Number(kDefaults.learningRate);
  case Setting::kMomentum:
    return Number(kDefaults.momentum);
  case Setting::kSeed:
    return std::to_string(kDefaults.seed);
  case Setting::kBatch:
    return kDefaults.batch ? "true" : "false";
  case Setting::kLearnCentres:
    return kDefaults.learnCentres ? "true" : "false";
  case Setting::kRules:
  case Setting::kExamples:
    break;
  }
  return "";
}

double AsTrainerReads(double value) {
  // The same text the parameter record holds ("%f"), read back as it is read.
  char text[400];
  std::snprintf(text, sizeof text, "%f", value);
  return std::strtod(text, nullptr);
}

std::string TrainerReadsOtherwise(double value) {
  if (std::isnan(value))
    return Number(value) + " is not a finite number";
  // Also a number past the single-precision range the settings are kept in.
  if (std::isinf(value))
    return Number(value) + " is not a finite number (the largest the trainer takes is 3.4e38)";
  const double read = AsTrainerReads(value);
  if (std::fabs(read - value) <= 0.005 * std::fabs(value))
    return "";
  std::string text =
      Number(value) + " reaches the trainer as " + Number(read) + " (it takes six decimals)";
  if (read == 0.0)
    text += "; it would train nothing";
  return text;
}

void RequireTrainerReadsAsGiven(Setting setting, double value) {
  const std::string why = TrainerReadsOtherwise(value);
  if (!why.empty()) {
    throw TSettingError(setting, why + (setting == Setting::kLearningRate
                                            ? "; use at least 0.000001, with six decimals or fewer"
                                            : "; use six decimals or fewer"));
  }
}

} // namespace kestrane
