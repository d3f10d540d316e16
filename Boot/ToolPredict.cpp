#include "Boot/ToolPredict.h"

#include "Boot/FitPipeline.h"
#include "Boot/ToolCommon.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <memory>
#include <ostream>
#include <unordered_map>

namespace kestrane {

const char *const kToolPredictHelp =
    "Usage: kestrane-tool predict NETWORK FILE.csv --ranges RANGES [-o OUT.csv]\n"
    "Answers for new rows: reads the CSV file (a header row naming the columns\n"
    "the import saw; the feature columns in any order, other columns such as the\n"
    "class are ignored), scales the features as the import did (values outside\n"
    "its ranges are clipped) and runs the network. Writes a CSV table: the\n"
    "column \"predicted\" with each row's class, in input order, then one column\n"
    "per class with the network's output for that class.\n"
    "  --ranges FILE   the ranges file of the import the network was trained on\n"
    "  --separator C   field separator of the input, one character or \"tab\" (default ,)\n"
    "  -o FILE         write the table to FILE instead of standard output\n";

namespace {

// A CSV field, quoted when it holds the separator, a quote or a line end.
std::string CsvField(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// The shortest text that reads back as the same double.
std::string Number(double value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

// The columns named in the ranges file, by exact header name.
std::vector<int> FindFeatureColumns(const CsvTable &csv, const std::vector<FeatureRange> &features) {
  std::unordered_map<std::string, int> byName;
  for (int c = 0; c < static_cast<int>(csv.header.size()); ++c) {
    const auto inserted = byName.emplace(csv.header[c], c);
    if (!inserted.second) inserted.first->second = -1;
  }
  std::vector<int> columns;
  for (const FeatureRange &f : features) {
    const auto found = byName.find(f.name);
    const std::string at = "line " + std::to_string(csv.headerLine) + ": ";
    if (found == byName.end()) throw ToolError(at + "no column \"" + f.name + "\", a feature of the ranges file");
    if (found->second < 0) throw ToolError(at + "two columns are named \"" + f.name + "\"");
    columns.push_back(found->second);
  }
  return columns;
}

} // namespace

int ToolPredict(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  const ToolArguments a(args, {"--ranges", "--separator", "-o"}, {}, "predict");
  if (a.Help()) {
    out << kToolPredictHelp;
    return 0;
  }
  if (a.Operands().size() != 2) {
    throw ToolError("predict takes a network file and a CSV file (see kestrane-tool predict --help)");
  }
  const std::string &networkName = a.Operands()[0];
  const std::string &csvName = a.Operands()[1];
  const std::string rangesName = a.Require("--ranges");
  const char separator = ParseSeparator(a.Get("--separator", ","));
  if (a.Has("-o") && a.Get("-o").empty()) throw ToolError("-o: empty file name");

  std::ifstream rangesIn(rangesName, std::ios::binary);
  if (!rangesIn) throw ToolError("Unable to open file " + rangesName);
  const ImportRanges ranges = ReadRanges(rangesIn);

  FileTools tools;
  std::unique_ptr<TBasicNetwork> network;
  try {
    network = tools.LoadNetwork(networkName.c_str());
  } catch (const FileTools::Error &e) {
    throw ToolError(networkName + ": " + e.GetMessage());
  }
  const int I = network->layers.at(network->inLayer)->GetNumNeurons();
  const int O = network->layers.at(network->outLayer)->GetNumNeurons();
  if (I != static_cast<int>(ranges.features.size()) || O != static_cast<int>(ranges.classes.size())) {
    throw ToolError(networkName + " takes " + std::to_string(I) + " inputs and gives " +
                    std::to_string(O) + " outputs; " + rangesName + " has " +
                    std::to_string(ranges.features.size()) + " features and " +
                    std::to_string(ranges.classes.size()) + " classes");
  }

  std::ifstream csvIn(csvName, std::ios::binary);
  if (!csvIn) throw ToolError("Unable to open file " + csvName);
  const CsvTable csv = ReadCsv(csvIn, separator);
  const std::vector<int> columns = FindFeatureColumns(csv, ranges.features);
  std::vector<std::vector<double>> rows(csv.rows.size());
  for (size_t r = 0; r < csv.rows.size(); ++r) {
    for (int c : columns) rows[r].push_back(ReadFeatureCell(csv, r, c));
  }
  const long clipped = ScaleRows(ranges.features, rows);
  const std::vector<double> outputs = RecallRows(*network, rows);

  std::string table = "predicted";
  for (const std::string &name : ranges.classes) table += "," + CsvField(name);
  table += "\n";
  std::vector<long> perClass(static_cast<size_t>(O), 0);
  for (size_t r = 0; r < rows.size(); ++r) {
    const double *row = &outputs[r * static_cast<size_t>(O)];
    const int k = PredictedClass(row, O);
    ++perClass[static_cast<size_t>(k)];
    table += CsvField(ranges.classes[static_cast<size_t>(k)]);
    for (int j = 0; j < O; ++j) table += "," + Number(row[j]);
    table += "\n";
  }

  if (a.Has("-o")) {
    const std::string file = a.Get("-o");
    PendingFiles pending;
    pending.Add(file) << table;
    pending.Commit();
    out << "Wrote " << rows.size() << " predictions to " << file << "\n";
  } else {
    out << table;
  }
  if (clipped > 0) {
    err << ClippedWarning(clipped, "value", " outside the ranges of the import");
  }
  if (rows.size() >= 2 && O >= 2 &&
      *std::max_element(perClass.begin(), perClass.end()) == static_cast<long>(rows.size())) {
    err << kOneClassWarning;
  }
  return 0;
}

} // namespace kestrane
