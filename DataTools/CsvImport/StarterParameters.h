#ifndef KESTRANE_DATATOOLS_CSVIMPORT_STARTERPARAMETERS_H
#define KESTRANE_DATATOOLS_CSVIMPORT_STARTERPARAMETERS_H

// The starter parameter file that an import writes: it names the network to
// start from, the file to save to and the class files, draws as many rows of
// every class as the smallest class has, and sets the remaining settings to
// documented defaults.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

struct StarterParameters {
  std::string weightFile;
  std::string destinationFile;
  std::vector<std::string> dataFiles;
  int examples = 0; // rows drawn from every class per round
  // When set (import --sampling, --examples): the rows of each class per round
  // instead of `examples`, described by `examplesNote`, and the file asks for
  // draws with replacement.
  std::vector<int> classExamples;
  std::string examplesNote;
  int epochs = 500;
  int changeAfter = 10;
  double learningRate = 0.1;
  double momentum = 0.5;
  bool batch = false;
  bool learnCentres = false; // written only when true: a file without the key keeps them
  double onlineRate = 0.1;   // with batch: the on-line rate learningRate was scaled from
  bool rateRaised = false;   // with batch: the scaled rate was too small to train, and raised
  uint32_t seed = 1;
};

// The file names must be single words (the parameter file separates words by
// blanks). The comments use no setting's name, so the reader skips them.
void WriteStarterParameters(std::ostream &out, const StarterParameters &p);

// The rule count import suggests for a first network: features + classes,
// at most 100 (or the class count, when that is larger).
int StarterRuleCount(int features, int classes);

// Rows one round draws over all classes.
long long RowsPerRound(const StarterParameters &p);

} // namespace kestrane

#endif
