#include "KQmessage/KestraneError.h"

#include <new>

namespace kestrane {

namespace {

template <typename Text>
std::string Describe(const std::exception_ptr &failure, SettingNamer namer, Text text) {
  try {
    if (failure)
      std::rethrow_exception(failure);
  } catch (const std::bad_alloc &) {
    return "out of memory";
  } catch (const TSettingError &e) {
    return (namer ? namer : PlainSettingName)(e.GetSetting()) + ": " + e.what();
  } catch (const TDivergedError &e) {
    return e.Wording(namer ? namer : PlainSettingName);
  } catch (const TKestraneError &e) {
    return text(e);
  } catch (const std::exception &e) {
    return e.what();
  } catch (...) {
  }
  return "unknown failure";
}

std::string DivergedWording(const std::string &what, SettingNamer namer, const std::string &after) {
  return "Training diverged: " + what + " (try a smaller " + namer(Setting::kLearningRate) +
         " or " + namer(Setting::kMomentum) + ")" + after;
}

} // namespace

std::string PlainSettingName(Setting setting) {
  switch (setting) {
  case Setting::kRules:
    return "rules";
  case Setting::kInputMFs:
    return "input membership functions";
  case Setting::kOutputMFs:
    return "output membership functions";
  case Setting::kWeightRange:
    return "weight range";
  case Setting::kEpochs:
    return "epochs";
  case Setting::kChangeAfter:
    return "change after";
  case Setting::kLearningRate:
    return "learning rate";
  case Setting::kMomentum:
    return "momentum";
  case Setting::kBatch:
    return "batch";
  case Setting::kExamples:
    return "examples per class";
  case Setting::kSeed:
    return "seed";
  case Setting::kLearnCentres:
    return "learning of the centres";
  }
  return "setting";
}

TDivergedError::TDivergedError(std::string what, std::string after)
    : TRunError(DivergedWording(what, PlainSettingName, after)), what_(std::move(what)),
      after_(std::move(after)) {}

std::string TDivergedError::Wording(SettingNamer namer) const {
  return DivergedWording(what_, namer, after_);
}

std::string FailureReport(const std::exception_ptr &failure, SettingNamer namer) {
  return Describe(failure, namer, [](const TKestraneError &e) { return e.Report(); });
}

std::string FailureLine(const std::exception_ptr &failure, SettingNamer namer) {
  return Describe(failure, namer, [](const TKestraneError &e) { return e.Line(); });
}

} // namespace kestrane
