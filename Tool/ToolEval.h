#ifndef KESTRANE_BOOT_TOOLEVAL_H
#define KESTRANE_BOOT_TOOLEVAL_H

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// kestrane-tool eval: runs a network over data-set files and reports the RMS
// error and, for class targets, accuracy, precision, recall and a confusion
// matrix.
int ToolEval(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

extern const char *const kToolEvalHelp;

// The classification part of the report, kept apart for testing: targets
// and outputs of every row, O values each.
struct ClassReport {
  bool classified = false; // the targets are class targets
  int classes = 0;
  long correct = 0;
  long rows = 0;
  std::vector<std::vector<long>> confusion; // [expected][predicted]
};

// One-hot targets (one 1, the rest 0) over O >= 2 outputs pick the class of
// the largest output; with one output, target and output are read at the
// 0.5 threshold. Any other targets give classified = false.
ClassReport Classify(const std::vector<double> &targets, const std::vector<double> &outputs, int O);

} // namespace kestrane

#endif
