#include "DataTools/CsvImport/StarterParameters.h"

#include <algorithm>
#include <ostream>

namespace kestrane {

int StarterRuleCount(int features, int classes) {
  // Cross-validated on iris and seven generated sets (2 to 12 features, 2 to
  // 6 classes): accuracy climbs steeply until about this many rules and is
  // flat, within the folds' noise, beyond. The cap keeps a wide table's
  // network to a size that trains in reasonable time; fewer rules than
  // classes are never suggested.
  const long long rules = static_cast<long long>(features) + classes;
  return static_cast<int>(std::min<long long>(rules, std::max(100, classes)));
}

long long RowsPerRound(const StarterParameters &p) {
  if (p.classExamples.empty())
    return static_cast<long long>(p.examples) * static_cast<long long>(p.dataFiles.size());
  long long rows = 0;
  for (int count : p.classExamples)
    rows += count;
  return rows;
}

void WriteStarterParameters(std::ostream &out, const StarterParameters &p) {
  // Every free word here is skipped by the reader only because none of them
  // is a key, in any letter case: keep it so when editing the comments.
  out << "// Training run written by kestrane-tool import. Run it with: Kestrane <this file>\n"
      << "// Lines hold a key, an equals sign and a value; other words are skipped.\n\n"
      << "WeightFile = " << p.weightFile << "   // network to start from (kestrane-tool create)\n"
      << "DestinationFile = " << p.destinationFile << "   // trained network is saved here\n\n"
      << "#DataClasses = " << p.dataFiles.size() << "\n";
  for (const std::string &file : p.dataFiles)
    out << "DataFile = " << file << "\n";
  if (p.classExamples.empty()) {
    out << "// rows drawn from each class per round: the smallest class's training rows\n";
    for (size_t i = 0; i < p.dataFiles.size(); ++i)
      out << "Examples = " << p.examples << "\n";
  } else {
    out << "// rows drawn from each class per round: " << p.examplesNote << "\n";
    for (int count : p.classExamples)
      out << "Examples = " << count << "\n";
    out << "WithReplacement = true   // a class short of rows repeats some of them\n";
  }
  out << "\n"
      << "Epochs = " << p.epochs << "   // budget of the whole run (default 500)\n"
      << "ChangeAfter = " << p.changeAfter
      << "   // passes over one draw before the next draw (default 10)\n"
      << "LearningRate = " << p.learningRate;
  if (p.batch && p.rateRaised) {
    out << "   // the smallest rate the run trains with: " << p.onlineRate << " divided by the "
        << RowsPerRound(p) << " rows of one draw would train nothing\n";
  } else if (p.batch) {
    out << "   // " << p.onlineRate << " divided by the " << RowsPerRound(p)
        << " rows of one draw: a step sums the changes of them all\n";
  } else {
    out << "   // default 0.1\n";
  }
  out << "Momentum = " << p.momentum << "   // default 0.5\n"
      << "Batch = " << (p.batch ? "true" : "false")
      << "   // false: on-line updates after each row\n";
  if (p.learnCentres)
    out << "LearnCentres = true   // training moves the input membership functions too\n";
  out << "Seed = " << p.seed << "   // same value, same run; without this line the clock decides\n";
}

} // namespace kestrane
