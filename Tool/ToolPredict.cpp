#include "Tool/ToolPredict.h"

#include "Boot/Explain.h"
#include "Boot/FitPipeline.h"
#include "DataTools/CsvImport/ColumnCoding.h"
#include "DataTools/CsvImport/CsvImport.h"
#include "FileHandler/ParseTools.h"
#include "FileHandler/Spool.h"
#include "KQmessage/QuotedField.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Tool/ToolCommon.h"
#include "Vemo/TVemo.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <exception>
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
    "its ranges are clipped; a category it did not see counts as missing, with a\n"
    "warning) and runs the network. Writes a CSV table: the\n"
    "column \"predicted\" with each row's class, in input order, then one column\n"
    "per class with the network's output for that class.\n"
    "  --ranges FILE   the ranges file of the import the network was trained on\n"
    "  --separator C   field separator of the input, one character or \"tab\" (default ,)\n"
    "  --na LIST       texts that mark a missing value, a comma list (default: the\n"
    "                  empty field, NA, NaN and ?: \",NA,NaN,?\"); a missing value\n"
    "                  gets degree 0 in every membership function of its input\n"
    "  -o FILE         write the table to FILE instead of standard output\n"
    "  --explain FILE  also write FILE, one JSON object per row (JSON lines): the\n"
    "                  firing of every rule, its term of every output function's\n"
    "                  net input and its vote per class, the membership degrees\n"
    "                  of the inputs, and the conditions of the 5 strongest rules.\n"
    "                  The terms add up to the network's net inputs exactly (see\n"
    "                  docs/explain.md)\n";

namespace {

// A CSV field, quoted when it holds the separator, a quote or a line end.
std::string CsvField(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"')
      quoted += '"';
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
std::vector<int> FindFeatureColumns(const std::vector<std::string> &header, int headerLine,
                                    const std::vector<std::string> &features) {
  std::unordered_map<std::string, int> byName;
  for (int c = 0; c < static_cast<int>(header.size()); ++c) {
    const auto inserted = byName.emplace(header[c], c);
    if (!inserted.second)
      inserted.first->second = -1;
  }
  std::vector<int> columns;
  for (const std::string &name : features) {
    const auto found = byName.find(name);
    const std::string at = "line " + std::to_string(headerLine) + ": ";
    if (found == byName.end())
      throw ToolError(at + "no column " + QuotedField(name) + ", a feature of the ranges file");
    if (found->second < 0)
      throw ToolError(at + "two columns are named " + QuotedField(name));
    columns.push_back(found->second);
  }
  return columns;
}

// Whether SafeSave writes `name` through a temporary file beside it (a regular
// file, or none yet), so that rows may go there as they are answered. A FIFO
// or a device would show them at once, and a bad row further on would leave
// part of a table there.
bool SavedBesideTarget(const std::string &name) {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0)
    return errno == ENOENT;
  return S_ISREG(st.st_mode);
}

// Rows are scaled and answered a block at a time: the same calls, value by
// value and row by row, as for the whole table, in memory that does not grow
// with the file. A block is large enough for RecallRows to share it between
// two threads.
constexpr size_t kBlockRows = 8192;

} // namespace

int ToolPredict(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  const ToolArguments a(args, {"--ranges", "--separator", "--na", "-o", "--explain"}, {},
                        "predict");
  if (a.Help()) {
    out << kToolPredictHelp;
    return 0;
  }
  if (a.Operands().size() != 2) {
    throw ToolError(
        "predict takes a network file and a CSV file (see kestrane-tool predict --help)");
  }
  const std::string &networkName = a.Operands()[0];
  const std::string &csvName = a.Operands()[1];
  const std::string rangesName = a.Require("--ranges");
  const char separator = ParseSeparator(a.Get("--separator", ","));
  const std::vector<std::string> missing = ParseMissingMarks(a);
  if (a.Has("-o") && a.Get("-o").empty())
    throw ToolError("-o: empty file name");
  if (a.Has("--explain") && a.Get("--explain").empty())
    throw ToolError("--explain: empty file name");
  if (a.Has("--explain") && a.Has("-o") && a.Get("--explain") == a.Get("-o"))
    throw ToolError("--explain and -o name the same file");

  std::ifstream rangesIn(rangesName, std::ios::binary);
  if (!rangesIn)
    throw ToolError("Unable to open file " + rangesName);
  RequireNoSetJournal(rangesName);
  const ImportRanges ranges = ReadRanges(rangesIn);

  FileTools tools;
  std::unique_ptr<TBasicNetwork> network;
  try {
    network = tools.LoadNetwork(networkName.c_str());
  } catch (const FileTools::Error &e) {
    throw ToolError(networkName + ": " + e.GetMessage());
  }
  const int I = network->GetNumInputs();
  const int O = network->GetNumOutputs();
  if (I != static_cast<int>(ranges.features.size()) ||
      O != static_cast<int>(ranges.classes.size())) {
    throw ToolError(networkName + " takes " + std::to_string(I) + " inputs and gives " +
                    std::to_string(O) + " outputs; " + rangesName + " has " +
                    std::to_string(ranges.features.size()) + " features and " +
                    std::to_string(ranges.classes.size()) + " classes");
  }
  TVemo *fuzzy = dynamic_cast<TVemo *>(network.get());
  if (a.Has("--explain") && fuzzy == nullptr)
    throw ToolError("--explain: " + networkName + " is no fuzzy (Vemo) network");
  // The explanations wait in a spool until every row has been answered.
  std::unique_ptr<Spool> explained;
  if (a.Has("--explain"))
    explained = std::make_unique<Spool>();

  std::ifstream csvIn(csvName, std::ios::binary);
  if (!csvIn)
    throw ToolError("Unable to open file " + csvName);
  CsvRecords records(csvIn, separator);
  std::vector<std::string> header;
  int line = 0;
  records.Header(header, line);

  // Failures are reported as when the whole text was read before anything
  // else: a fault of the text anywhere in the file, then a missing column,
  // then the first bad cell, then an output file that cannot be written. The
  // first of the later kinds waits for the end of the text.
  std::exception_ptr failure;
  std::unique_ptr<RowEncoder> encoder;
  try {
    encoder = std::make_unique<RowEncoder>(
        ranges.features,
        FindFeatureColumns(header, line, RowEncoder::SourceColumns(ranges.features)), header,
        missing);
  } catch (const ToolError &) {
    failure = std::current_exception();
  }
  // The rows go to the report (which the program shows only after a complete
  // run), into the -o file's temporary file where it has one, or else to a
  // spool until the end: a failure shows no part of them.
  const std::string file = a.Get("-o");
  PendingFiles pending;
  std::ostream *table = &out;
  std::exception_ptr outputFailure;
  std::unique_ptr<Spool> spool;
  if (!failure && a.Has("-o") && SavedBesideTarget(file)) {
    try {
      table = &pending.Add(file);
    } catch (const FileTools::Error &) {
      outputFailure = std::current_exception();
    }
  } else if (a.Has("-o")) {
    spool = std::make_unique<Spool>();
    table = &spool->Stream();
  }

  std::string text = "predicted";
  for (const std::string &name : ranges.classes)
    text += "," + CsvField(name);
  text += "\n";
  size_t rows = 0;
  long clipped = 0;
  std::vector<long> perClass(static_cast<size_t>(O), 0);
  std::vector<std::vector<double>> block;
  const auto answer = [&] {
    if (!outputFailure) {
      std::vector<std::vector<double>> values;
      if (explained)
        values = block;
      clipped += ScaleRows(ranges.features, block);
      const std::vector<double> outputs = RecallRows(*network, block);
      for (size_t r = 0; r < block.size(); ++r) {
        const double *row = &outputs[r * static_cast<size_t>(O)];
        const int k = PredictedClass(row, O);
        ++perClass[static_cast<size_t>(k)];
        text += CsvField(ranges.classes[static_cast<size_t>(k)]);
        for (int j = 0; j < O; ++j)
          text += "," + Number(row[j]);
        text += "\n";
      }
      *table << text;
      for (size_t r = 0; explained && r < block.size(); ++r) {
        const ExplainedRow row = ExplainRow(*fuzzy, block[r].data(), kExplainedRules);
        explained->Stream() << ExplanationJson(row, ranges, values[r],
                                               static_cast<long>(rows - block.size() + r + 1))
                            << "\n";
      }
    }
    text.clear();
    block.clear();
  };

  std::vector<std::string> fields;
  while (records.Next(fields, line)) {
    if (fields.size() != header.size())
      throw FieldCountError(line, fields.size(), header.size());
    if (failure)
      continue;
    std::vector<double> values(ranges.features.size());
    try {
      encoder->Encode(fields, line, values.data());
    } catch (const ImportError &) {
      failure = std::current_exception();
      continue;
    }
    ++rows;
    block.push_back(std::move(values));
    if (block.size() == kBlockRows)
      answer();
  }
  if (failure)
    std::rethrow_exception(failure);
  answer();
  if (outputFailure)
    std::rethrow_exception(outputFailure);

  if (explained)
    explained->CopyTo(pending.Add(a.Get("--explain")));
  if (a.Has("-o") || explained) {
    if (spool)
      spool->CopyTo(pending.Add(file));
    pending.Commit();
  }
  if (a.Has("-o")) {
    out << "Wrote " << rows << " predictions to " << file << "\n";
  }
  if (clipped > 0) {
    err << ClippedWarning(clipped, "value", " outside the ranges of the import");
  }
  err << encoder->UnseenWarning();
  if (rows >= 2 && O >= 2 &&
      *std::max_element(perClass.begin(), perClass.end()) == static_cast<long>(rows)) {
    err << kOneClassWarning;
  }
  return 0;
}

} // namespace kestrane
