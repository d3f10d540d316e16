#include "Tool/ToolReport.h"

#include "Boot/HtmlReport.h"
#include "Boot/RuleToolInputs.h"
#include "Tool/ToolCommon.h"

#include <ostream>

namespace kestrane {

const char *const kToolReportHelp =
    "Usage: kestrane-tool report NETWORK --ranges RANGES --data FILES -o REPORT.html\n"
    "Writes one HTML page that needs nothing else to open (charts are inline\n"
    "SVG): every input's membership functions in its units, the rules that\n"
    "`rules` prints with their votes as bars, the network's rule nodes with\n"
    "their weights as bars, the confusion matrix and permutation importance on\n"
    "the rows of FILES, and a few of those rows explained.\n"
    "  --ranges FILE      the ranges file of the import\n"
    "  --data FILES       labelled rows: a CSV file with header (scaled through the\n"
    "                     ranges), data-set files of the import (a comma list)\n"
    "                     or its parameter file (NAME.param: its training rows)\n"
    "  --na LIST          texts that mark a missing value in a CSV file, as for import\n"
    "  --title TEXT       the page's heading (default: the network file's name)\n"
    "  -o FILE            the page\n";

int ToolReport(const std::vector<std::string> &args, std::ostream &out, std::ostream &) {
  const ToolArguments a(args, {"--ranges", "--data", "--na", "--title", "-o"}, {}, "report");
  if (a.Help()) {
    out << kToolReportHelp;
    return 0;
  }
  if (a.Operands().size() != 1)
    throw ToolError("report takes one network file (see kestrane-tool report --help)");
  const std::string networkFile = a.Operands()[0];
  const std::string dataFile = a.Require("--data");
  const std::string outputFile = a.Require("-o");
  if (outputFile.empty())
    throw ToolError("-o: empty file name");
  const ImportRanges ranges = LoadRangesFile(a.Require("--ranges"));
  FuzzyNetworkFile loaded = LoadFuzzyNetwork(networkFile);
  CheckRangesFit(ranges, *loaded.network, networkFile);
  const ClassRows rows = ReadClassRows(DataFileList(dataFile), ranges, ParseMissingMarks(a));
  if (rows.Rows() == 0)
    throw ToolError(dataFile + ": no rows");
  const HtmlReportSource source{a.Get("--title", "Kestrane report: " + networkFile), networkFile,
                                dataFile};
  const std::string page = HtmlReport(*loaded.network, ranges, rows, source);
  PendingFiles pending;
  pending.Add(outputFile) << page;
  pending.Commit();
  out << "Wrote " << outputFile << "\n";
  return 0;
}

} // namespace kestrane
