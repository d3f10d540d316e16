#include "Boot/KestraneApp.h"

#include "Boot/FiniteChecks.h"
#include "Boot/FitPipeline.h"
#include "Boot/ParameterFile.h"
#include "Boot/RunProgress.h"
#include "Boot/RunSettings.h"
#include "Boot/Settings.h"
#include "Boot/TVemoBPBootStrap.h"
#include "Boot/Version.h"
#include "DataObject/Data.h"
#include "FileHandler/CheckedOutput.h"
#include "FileHandler/ParseTools.h"
#include "FileHandler/SafeSave.h"
#include "FileHandler/TextFile.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"

#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kestrane {

namespace {

// Checks that the class tables agree with each other, with the feature list
// and with the network, before anything is trained on them; then selects the
// features.
void FitDataToNetwork(const RunSettings &settings, std::vector<std::unique_ptr<Data>> &tables,
                      TBasicNetwork &network) {
  const Data &first = *tables[0];
  for (size_t i = 1; i < tables.size(); ++i)
    if (tables[i]->MbrNdxInputs != first.MbrNdxInputs ||
        tables[i]->MbrNdxOutputs != first.MbrNdxOutputs)
      throw TRunError{"Data file " + settings.dataFiles[i] + " has " +
                      std::to_string(tables[i]->MbrNdxInputs) + " inputs and " +
                      std::to_string(tables[i]->MbrNdxOutputs) + " outputs, but " +
                      settings.dataFiles[0] + " has " + std::to_string(first.MbrNdxInputs) +
                      " and " + std::to_string(first.MbrNdxOutputs)};

  int32_t presented = first.MbrNdxInputs;
  if (settings.featureCount != 0) {
    if (settings.featureCount > first.MbrNdxInputs)
      throw TRunError{"More features (" + std::to_string(settings.featureCount) + ") than the " +
                      std::to_string(first.MbrNdxInputs) + " input columns of the data files"};
    for (int32_t column : settings.features)
      if (column < 0 || column >= first.MbrNdxInputs)
        throw TRunError{"Feature column " + std::to_string(column) + " is outside the " +
                        std::to_string(first.MbrNdxInputs) + " input columns of the data files"};
    presented = settings.featureCount;
  }

  const int networkInputs = network.GetNumInputs();
  const int networkOutputs = network.GetNumOutputs();
  if (presented < networkInputs)
    throw TRunError{"The data presents " + std::to_string(presented) +
                    " input values but the network has " + std::to_string(networkInputs) +
                    " inputs"};
  if (first.MbrNdxOutputs != networkOutputs)
    throw TRunError{"The data has " + std::to_string(first.MbrNdxOutputs) +
                    " output values but the network has " + std::to_string(networkOutputs) +
                    " outputs"};
  if (presented > networkInputs)
    std::cerr << "!Warning: the data presents " << presented
              << " input values; the network reads only the first " << networkInputs << std::endl;

  if (settings.featureCount != 0)
    for (auto &table : tables)
      table->SelectInputColumns(settings.featureCount, settings.features.data());
}

// Settings that make the weights grow without bound or learn backwards.
void WarnAboutSettings(const RunSettings &settings) {
  if (!(settings.momentum >= 0.0f && settings.momentum < 1.0f))
    std::cerr << "!Warning: Momentum " << settings.momentum
              << " is outside [0, 1); training is likely to diverge" << std::endl;
  if (settings.learningRate < 0.0f)
    std::cerr << "!Warning: LearningRate " << settings.learningRate
              << " is negative; training moves away from the targets" << std::endl;
  // The trainer reads both with six decimals: say so when that is not the value given.
  for (const auto &[key, value] :
       {std::pair<const char *, float>{"LearningRate", settings.learningRate},
        {"Momentum", settings.momentum}}) {
    const std::string why = TrainerReadsOtherwise(value);
    if (!why.empty() && std::isfinite(value))
      std::cerr << "!Warning: " << key << " " << why << std::endl;
  }
}

// The class tables as a refusal names them.
std::vector<std::string> DataFileNames(const RunSettings &settings) {
  std::vector<std::string> names;
  for (const std::string &file : settings.dataFiles)
    names.push_back("data file " + file);
  return names;
}

int Train(const RunSettings &settings, CheckedOutput &output) {
  FileTools tools;
  // The library's message alone does not say which file, and a forgotten
  // create is the usual cause.
  if (!std::ifstream(settings.weightFile, std::ios::binary))
    throw TRunError("Error on File Open: " + settings.weightFile +
                    " (the WeightFile; kestrane-tool create makes a network)");
  std::unique_ptr<TBasicNetwork> PtrFunToTrain = tools.LoadNetwork(settings.weightFile.c_str());

  // Every class is tried, so that one run names every file that is missing.
  const size_t classes = static_cast<size_t>(settings.dataClasses);
  std::vector<std::unique_ptr<Data>> tables(classes);
  bool missing = false;
  for (size_t i = 0; i < classes; ++i)
    if (tools.LoadTrainingSet(settings.dataFiles[i].c_str(), tables[i]) != kDataSetSuccess ||
        tables[i] == nullptr) {
      std::cerr << "Unable to open file " << settings.dataFiles[i] << std::endl;
      missing = true;
    }
  if (missing)
    return 1;
  for (size_t i = 0; i < classes; ++i) {
    const std::string where = FirstNonFiniteValue(*tables[i]);
    if (!where.empty())
      throw TRunError{"Data file " + settings.dataFiles[i] + ": " + where +
                      "; every value must be a finite number (an input may be nan: missing)"};
  }
  RequireFiniteWeights(*PtrFunToTrain, settings.weightFile);

  FitDataToNetwork(settings, tables, *PtrFunToTrain);
  WarnAboutSettings(settings);
  // The save's first steps, taken now: a destination that cannot be written
  // fails before the training rather than after it. The temporary file is
  // kept for the save.
  std::unique_ptr<SafeSave> destination;
  try {
    destination = std::make_unique<SafeSave>(settings.destinationFile);
  } catch (const FileTools::Error &e) {
    // The save names the file and the reason; the run's message keeps its wording.
    const std::string named = "cannot write " + settings.destinationFile + ": ";
    const std::string &message = e.GetMessage();
    throw TRunError{
        "Unable to write file " + settings.destinationFile + ": " +
        (message.compare(0, named.size(), named) == 0 ? message.substr(named.size()) : message)};
  }

  TrainSettings train;
  train.examples = settings.examples;
  train.epochs = settings.epochs;
  train.changeAfter = settings.changeAfter;
  train.learningRate = settings.learningRate;
  train.momentum = settings.momentum;
  train.batch = settings.batch;
  train.withReplacement = settings.withReplacement;
  // The file's own value, never the tool's default: a file without the key runs as it always has.
  train.learnCentres = settings.learnCentres;
  train.seed = settings.hasSeed ? static_cast<unsigned>(settings.seed)
                                : static_cast<unsigned>(time(nullptr));

  std::vector<Data *> classTables;
  for (auto &table : tables)
    classTables.push_back(table.get());

  // Only a person at a terminal wants the status line; scripts see the
  // program's plain output.
  std::unique_ptr<TRunProgress> progress;
  TVemoBPBootStrap::ProgressFn report;
  if (isatty(2)) {
    progress = std::make_unique<TRunProgress>(stderr);
    report = [&progress](const TVemoBPBootStrap::Progress &p) { progress->Update(p); };
  }
  const double error =
      TrainNetwork(*PtrFunToTrain, classTables, train, report, DataFileNames(settings));
  progress.reset();
  // A diverged network is no result to save.
  RequireConverged(*PtrFunToTrain, error, "; " + settings.destinationFile + " is left as it was");
  std::cout << "Error = " << error << std::endl;
  // The run's report lost is a failed run: the destination stays as it was.
  output.Require();

  tools.WriteNetwork(destination->Stream(), *PtrFunToTrain);
  destination->Commit();

  return 0;
}

int Run(int argc, char **argv, CheckedOutput &output) {
  // A file-size limit then fails the write (EFBIG) and the save or the check
  // of standard output reports it, instead of the signal ending the program
  // without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  if (argc != 2) {
    std::cerr << "Usage: Kestrane parameter.file" << std::endl;
    return 1;
  }
  const std::string argument = argv[1];
  if (argument == "--help" || argument == "-h") {
    std::cout << "Usage: Kestrane parameter.file\n"
                 "Trains a fuzzy network as the parameter file says. The keys are in the\n"
                 "table under \"Parameter file\" in README.md.\n";
    return 0;
  }
  if (argument == "--version") {
    std::cout << "Kestrane " << kVersion << '\n';
    return 0;
  }

  // The parameters are read inside the handlers too: a long Features list
  // needs memory like any table.
  try {
    RunSettings settings;
    {
      std::string text;
      RequireNoSetJournal(argv[1]);
      if (!ReadTextFile(argv[1], text)) {
        std::cerr << "Unable to open file " << argv[1] << std::endl;
        return 1;
      }
      std::istringstream file(std::move(text));
      const std::string message = LoadParameters(file, settings);
      if (!message.empty()) {
        std::cerr << message << std::endl;
        return 1;
      }
    }
    return Train(settings, output);
  } catch (...) {
    std::cerr << FailureReport(std::current_exception(), ParameterKey) << std::endl;
  }
  return 1;
}

} // namespace

int KestraneMain(int argc, char **argv) {
  CheckedOutput output(std::cout, "standard output");
  return output.Finish(Run(argc, argv, output), std::cerr);
}

} // namespace kestrane
