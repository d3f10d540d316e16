#include "Tool/ToolEval.h"

#include "Boot/FiniteChecks.h"
#include "Boot/FitPipeline.h"
#include "DataObject/Data.h"
#include "DataTools/CsvImport/RangesFile.h"
#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Tool/ToolCommon.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <ostream>

namespace kestrane {

const char *const kToolEvalHelp =
    "Usage: kestrane-tool eval [options] NETWORK DATAFILE...\n"
    "Runs the network over every row of the data-set files and prints the RMS\n"
    "error. When the expected outputs are classes (one output per class, 1 for\n"
    "the row's class and 0 for the others; or a single output read at 0.5), it\n"
    "also prints the accuracy, the precision and recall of every class and the\n"
    "confusion matrix.\n"
    "  --ranges FILE   class names from the ranges file of the import\n"
    "  -o FILE         write a data-set file with every row's inputs, expected\n"
    "                  outputs, generated outputs and errors (expected - generated)\n";

namespace {

std::string Percent(long part, long whole) {
  if (whole == 0)
    return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%",
                100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text;
}

std::string Pad(const std::string &text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// Row and column sums of the confusion matrix.
long ExpectedRows(const ClassReport &report, int k) {
  long sum = 0;
  for (int j = 0; j < report.classes; ++j)
    sum += report.confusion[k][j];
  return sum;
}

long PredictedRows(const ClassReport &report, int k) {
  long sum = 0;
  for (int j = 0; j < report.classes; ++j)
    sum += report.confusion[j][k];
  return sum;
}

void PrintClassReport(std::ostream &out, const ClassReport &report,
                      const std::vector<std::string> &names) {
  out << "Accuracy: " << Percent(report.correct, report.rows) << " (" << report.correct << " of "
      << report.rows << " rows)\n";
  size_t width = 9;
  for (const std::string &n : names)
    width = std::max(width, n.size() + 1);
  out << Pad("class", width) << Pad("rows", 7) << Pad("precision", 11) << Pad("recall", 10) << "\n";
  for (int k = 0; k < report.classes; ++k) {
    const long expected = ExpectedRows(report, k);
    const long predicted = PredictedRows(report, k);
    const long hits = report.confusion[k][k];
    out << Pad(names[k], width) << Pad(std::to_string(expected), 7)
        << Pad(Percent(hits, predicted), 11) << Pad(Percent(hits, expected), 10) << "\n";
  }
  out << "Confusion matrix (rows: expected class, columns: predicted class)\n" << Pad("", width);
  for (int k = 0; k < report.classes; ++k)
    out << Pad(names[k], width);
  out << "\n";
  for (int k = 0; k < report.classes; ++k) {
    out << Pad(names[k], width);
    for (int j = 0; j < report.classes; ++j)
      out << Pad(std::to_string(report.confusion[k][j]), width);
    out << "\n";
  }
}

} // namespace

ClassReport Classify(const std::vector<double> &targets, const std::vector<double> &outputs,
                     int O) {
  ClassReport report;
  const size_t rows = O > 0 ? targets.size() / static_cast<size_t>(O) : 0;
  std::vector<int> expected(rows);
  for (size_t r = 0; r < rows; ++r) {
    const double *t = &targets[r * O];
    if (O == 1) {
      if (t[0] != 0.0 && t[0] != 1.0)
        return report;
      expected[r] = t[0] >= 0.5 ? 1 : 0;
      continue;
    }
    int ones = 0;
    for (int k = 0; k < O; ++k) {
      if (t[k] == 1.0) {
        ++ones;
        expected[r] = k;
      } else if (t[k] != 0.0) {
        return report;
      }
    }
    if (ones != 1)
      return report;
  }
  report.classified = true;
  report.classes = O == 1 ? 2 : O;
  report.rows = static_cast<long>(rows);
  report.confusion.assign(static_cast<size_t>(report.classes),
                          std::vector<long>(static_cast<size_t>(report.classes), 0));
  for (size_t r = 0; r < rows; ++r) {
    const int predicted = PredictedClass(&outputs[r * O], O);
    ++report.confusion[expected[r]][predicted];
    if (predicted == expected[r])
      ++report.correct;
  }
  return report;
}

namespace {

// eval reads the data-set files import writes; a CSV file has to go through it first.
std::string CsvHint(const std::string &name) {
  std::string tail = name.size() >= 4 ? name.substr(name.size() - 4) : std::string();
  for (char &c : tail)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (tail != ".csv")
    return std::string();
  return " (eval reads data-set files: kestrane-tool import " + name +
         " --ranges RANGES -o NEW writes NEW.dat from a CSV file)";
}

} // namespace

int ToolEval(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  const ToolArguments a(args, {"--ranges", "-o"}, {}, "eval");
  if (a.Help()) {
    out << kToolEvalHelp;
    return 0;
  }
  const std::vector<std::string> &operands = a.Operands();
  if (operands.size() < 2) {
    throw ToolError(
        "eval takes a network file and at least one data-set file (see kestrane-tool eval --help)");
  }
  std::vector<std::string> classNames;
  if (a.Has("--ranges")) {
    std::ifstream rangesIn(a.Get("--ranges"), std::ios::binary);
    if (!rangesIn)
      throw ToolError("Unable to open file " + a.Get("--ranges"));
    RequireNoSetJournal(a.Get("--ranges"));
    classNames = ReadRanges(rangesIn).classes;
  }

  FileTools tools;
  std::unique_ptr<TBasicNetwork> network;
  try {
    network = tools.LoadNetwork(operands[0].c_str());
  } catch (const FileTools::Error &e) {
    // The reader's message says what is wrong, not in which file.
    throw ToolError(operands[0] + ": " + e.GetMessage());
  }
  const int I = network->GetNumInputs();
  const int O = network->GetNumOutputs();
  if (O < 1)
    throw ToolError(operands[0] + ": the network has no outputs");
  if (const long bad = CountNonFiniteWeights(*network))
    err << "!Warning: " << operands[0] << " holds " << bad
        << " weights or centres that are not finite numbers; its outputs mean nothing\n";

  // Inputs, targets and outputs of every row of every file, in order.
  std::vector<double> inputs;
  std::vector<double> targets;
  std::vector<double> outputs;
  std::vector<double> output(static_cast<size_t>(O));
  for (size_t f = 1; f < operands.size(); ++f) {
    const std::string &name = operands[f];
    std::unique_ptr<Data> table;
    std::unique_ptr<Data> second;
    int32_t code;
    try {
      code = tools.LoadDataSet(name.c_str(), table, second);
    } catch (const FileTools::Error &e) {
      throw ToolError(name + ": " + e.GetMessage() + CsvHint(name));
    }
    if (code == kDataSetCannotOpen)
      throw ToolError("Unable to open file " + name);
    if (code != kDataSetSuccess || !table)
      throw ToolError(name + ": not a data-set file with inputs and expected outputs" +
                      CsvHint(name));
    if (table->MbrNdxInputs != I) {
      throw ToolError(name + ": " + std::to_string(table->MbrNdxInputs) +
                      " inputs per row, the network takes " + std::to_string(I));
    }
    if (table->MbrBlnLabels || table->MbrNdxOutputs != O) {
      throw ToolError(name + ": " + std::to_string(table->MbrNdxOutputs) +
                      " expected outputs per row, the network gives " + std::to_string(O));
    }
    for (int32_t r = 0; r < table->MbrNdxDataRows; ++r) {
      const double *in = table->InputSlot(r);
      const double *target = table->OutputSlot(r);
      network->Recall(in, output.data());
      inputs.insert(inputs.end(), in, in + I);
      targets.insert(targets.end(), target, target + O);
      outputs.insert(outputs.end(), output.begin(), output.end());
    }
  }
  const size_t rows = targets.size() / static_cast<size_t>(O);
  if (rows == 0)
    throw ToolError("the data-set files hold no rows");

  double sum = 0.0;
  for (size_t i = 0; i < targets.size(); ++i)
    sum += (targets[i] - outputs[i]) * (targets[i] - outputs[i]);
  const double rms = std::sqrt(sum / O / static_cast<double>(rows));
  out << "Rows: " << rows << "\n"
      << "RMS error: " << rms << "\n";

  const ClassReport report = Classify(targets, outputs, O);
  bool oneClass = false; // warned of once the run is complete
  if (report.classified) {
    if (!classNames.empty() && static_cast<int>(classNames.size()) != report.classes) {
      throw ToolError("the ranges file names " + std::to_string(classNames.size()) +
                      " classes, the network has " + std::to_string(report.classes));
    }
    if (classNames.empty()) {
      for (int k = 0; k < report.classes; ++k)
        classNames.push_back(std::to_string(k));
    }
    PrintClassReport(out, report, classNames);
    // Rows of one class alone are rightly given one class; rows of several are not.
    long expectedClasses = 0;
    long largestPredicted = 0;
    for (int k = 0; k < report.classes; ++k) {
      if (ExpectedRows(report, k) > 0)
        ++expectedClasses;
      largestPredicted = std::max(largestPredicted, PredictedRows(report, k));
    }
    oneClass = expectedClasses > 1 && largestPredicted == report.rows;
  }

  if (a.Has("-o")) {
    const auto n = static_cast<int32_t>(rows);
    Data first(n, I, O, false);
    Data generated(n, O, O, false);
    std::vector<double> error(static_cast<size_t>(O));
    for (size_t r = 0; r < rows; ++r) {
      for (int k = 0; k < O; ++k)
        error[k] = targets[r * O + k] - outputs[r * O + k];
      first.AppendRow(&inputs[r * I], &targets[r * O]);
      generated.AppendRow(&outputs[r * O], error.data());
    }
    PendingFiles pending;
    tools.WriteDataSet(pending.Add(a.Get("-o")), &first, &generated);
    pending.Commit();
    out << "Wrote " << a.Get("-o") << "\n";
  }
  if (oneClass)
    err << kOneClassWarning;
  return 0;
}

} // namespace kestrane
