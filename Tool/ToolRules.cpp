#include "Tool/ToolRules.h"

#include "Boot/FiniteChecks.h"
#include "Boot/RuleReport.h"
#include "Boot/RuleToolInputs.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/TException.h"
#include "Tool/ToolCommon.h"
#include "Vemo/RuleSimplify.h"
#include "Vemo/TVemo.h"

#include <cstdio>
#include <ostream>

namespace kestrane {

const char *const kToolRulesHelp =
    "Usage: kestrane-tool rules NETWORK --ranges RANGES [options]\n"
    "Prints the rules of a trained network as a reader applies them by hand: at\n"
    "most 20 rules of at most 5 conditions (\"feature >= value\", \"feature < value\"\n"
    "in the feature's units, \"column is [not] category\" for a column of\n"
    "categories), each voting for one class, fitted to the network's\n"
    "own answers on the rows of --data (without it, on 4000 inputs drawn evenly\n"
    "from the ranges). Every class starts at its start score; every rule whose\n"
    "conditions all hold adds its vote to its class; the largest total is the\n"
    "answer. Fidelity is the share of rows on which that gives the network's class.\n"
    "  --ranges FILE      the ranges file of the import (feature and class names)\n"
    "  --data FILES       labelled rows: a CSV file with header (scaled through\n"
    "                     the ranges), data-set files of the import (a comma list)\n"
    "                     or its parameter file (NAME.param: its training rows);\n"
    "                     the rules are fitted to the network's answers on them;\n"
    "                     also accuracy and permutation importance\n"
    "  --na LIST          texts that mark a missing value in a CSV file, as for import\n"
    "  --top K            at most K rules (default 20; with --nodes, all nodes)\n"
    "  --nodes            print the network's rule nodes instead, one paragraph\n"
    "                     each: conditions \"feature is [not] term\" and conclusions\n"
    "                     with their weights, in order of importance\n"
    "  --min-weight W     with --nodes, list arcs with |weight| >= W (default: arcs\n"
    "                     with at least half of the rule's largest |weight|)\n"
    "  --json             one JSON document (both readings) instead of text\n"
    "See docs/rules.md.\n";

const char *const kToolSimplifyHelp =
    "Usage: kestrane-tool simplify NETWORK --ranges RANGES --data FILES -o SMALLER.wgt\n"
    "Removes the weakest arcs of the rule and action matrices, weakest first,\n"
    "as long as the accuracy on the rows of FILES stays within --max-drop\n"
    "points of the accuracy before, then removes rules left without\n"
    "conclusions. Reports arcs, rules and accuracy before and after. The result\n"
    "is a normal network file: Kestrane trains it further, rules prints it.\n"
    "  --ranges FILE      the ranges file of the import\n"
    "  --data FILES       labelled rows to judge the accuracy by: a CSV file with\n"
    "                     header, data-set files of the import (a comma list) or\n"
    "                     its parameter file (NAME.param: its training rows)\n"
    "  --na LIST          texts that mark a missing value in a CSV file, as for import\n"
    "  --max-drop P       accuracy points the network may lose (default 1)\n"
    "  -o FILE            the smaller network\n";

namespace {

std::string Fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The library reports its refusals as TExceptions; here they are one line.
template <typename Call>
auto OneLine(Call call) -> decltype(call()) {
  try {
    return call();
  } catch (const TException &e) {
    throw ToolError(e.GetMessage());
  }
}

} // namespace

// Warnings reach the error stream through the sink RunGuarded installs.
int ToolRules(const std::vector<std::string> &args, std::ostream &out, std::ostream &) {
  const ToolArguments a(args, {"--ranges", "--data", "--na", "--top", "--min-weight"},
                        {"--json", "--nodes"}, "rules");
  if (a.Help()) {
    out << kToolRulesHelp;
    return 0;
  }
  if (a.Operands().size() != 1)
    throw ToolError("rules takes one network file (see kestrane-tool rules --help)");
  const std::string networkFile = a.Operands()[0];
  RuleOptions options;
  if (a.Has("--min-weight")) {
    options.minWeight = ParseReal(a.Get("--min-weight"), "--min-weight");
    if (!(options.minWeight >= 0.0))
      throw ToolError("--min-weight must be 0 or more");
  }
  const int top = a.Has("--top") ? ParseCount(a.Get("--top"), "--top", 0, 1000000) : -1;
  if (top >= 0)
    options.votes.maxRules = top;

  const ImportRanges ranges = LoadRangesFile(a.Require("--ranges"));
  FuzzyNetworkFile loaded = LoadFuzzyNetwork(networkFile);
  CheckRangesFit(ranges, *loaded.network, networkFile);
  RuleReportSource source{networkFile, a.Get("--data")};
  ClassRows rows;
  if (a.Has("--data")) {
    rows = ReadClassRows(DataFileList(source.dataFile), ranges, ParseMissingMarks(a));
    if (rows.Rows() == 0)
      throw ToolError(source.dataFile + ": no rows");
  }
  RuleBase base = OneLine([&] {
    return ExtractRules(*loaded.network, VocabularyOf(ranges), options,
                        a.Has("--data") ? &rows : nullptr);
  });
  KeepTopRules(base, top);
  if (a.Has("--json"))
    out << RulesJson(base, source);
  else
    out << (a.Has("--nodes") ? NodeRulesText(base, source) : RulesText(base, source));
  return 0;
}

int ToolSimplify(const std::vector<std::string> &args, std::ostream &out, std::ostream &) {
  const ToolArguments a(args, {"--ranges", "--data", "--na", "--max-drop", "-o"}, {}, "simplify");
  if (a.Help()) {
    out << kToolSimplifyHelp;
    return 0;
  }
  if (a.Operands().size() != 1)
    throw ToolError("simplify takes one network file (see kestrane-tool simplify --help)");
  const std::string networkFile = a.Operands()[0];
  const std::string outputFile = a.Require("-o");
  const double maxDrop = a.Has("--max-drop") ? ParseReal(a.Get("--max-drop"), "--max-drop") : 1.0;
  if (!(maxDrop >= 0.0 && maxDrop <= 100.0))
    throw ToolError("--max-drop must lie between 0 and 100 points");

  const ImportRanges ranges = LoadRangesFile(a.Require("--ranges"));
  FuzzyNetworkFile loaded = LoadFuzzyNetwork(networkFile);
  CheckRangesFit(ranges, *loaded.network, networkFile);
  // eval and rules only report on such a network (with a warning); simplify
  // would write one, chosen by accuracies that mean nothing.
  RequireFiniteWeights(*loaded.owner, networkFile);
  const std::string dataFile = a.Require("--data");
  const ClassRows rows = ReadClassRows(DataFileList(dataFile), ranges, ParseMissingMarks(a));
  if (rows.Rows() == 0)
    throw ToolError(dataFile + ": no rows");

  const SimplifyReport report =
      OneLine([&] { return SimplifyRuleBase(*loaded.network, rows, maxDrop); });
  if (!report.pruneable) {
    throw ToolError(networkFile +
                    ": neither the rule nor the action matrix is Pruneable: no arc can be removed");
  }

  // Written only after the whole run succeeded: a failure leaves no file and
  // an existing one as it was.
  PendingFiles pending;
  FileTools tools;
  tools.WriteNetwork(pending.Add(outputFile), *loaded.owner);
  pending.Commit();

  const auto share = [](long part, long whole) {
    return whole > 0
               ? Fixed(100.0 * static_cast<double>(part) / static_cast<double>(whole), 1) + "%"
               : "-";
  };
  const auto cell = [](const std::string &text, size_t width) {
    return text.size() >= width ? " " + text : std::string(width - text.size(), ' ') + text;
  };
  out << "Rows: " << rows.Rows() << " of " << dataFile << "\n"
      << "          " << cell("before", 9) << cell("after", 9) << "\n"
      << "Arcs      " << cell(std::to_string(report.arcsBefore), 9)
      << cell(std::to_string(report.arcsAfter), 9) << "   ("
      << share(report.arcsBefore - report.arcsAfter, report.arcsBefore) << " removed)\n"
      << "Rules     " << cell(std::to_string(report.rulesBefore), 9)
      << cell(std::to_string(report.rulesAfter), 9) << "\n"
      << "Accuracy  " << cell(Fixed(report.accuracyBefore, 2) + "%", 9)
      << cell(Fixed(report.accuracyAfter, 2) + "%", 9) << "\n";
  out << "Wrote " << outputFile << "\n";
  return 0;
}

} // namespace kestrane
