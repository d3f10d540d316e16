#ifndef KESTRANE_BOOT_HTMLREPORT_H
#define KESTRANE_BOOT_HTMLREPORT_H

// One self-contained HTML page about a trained classifier and labelled rows:
// every input's membership functions in its own units, the rules as printed
// by `rules` with their votes as bars, the rule nodes with their weights as
// bars, the confusion matrix, the permutation importance of the features
// and a few rows explained. Charts are inline SVG; the page loads nothing.

#include "DataTools/CsvImport/RangesFile.h"
#include "Vemo/RuleRows.h"

#include <string>

namespace kestrane {

class TVemo;

struct HtmlReportSource {
  std::string title;       // the page's heading
  std::string networkFile; // may be empty
  std::string dataFile;    // may be empty
};

// `rows` are scaled through `ranges`, one expected class per row.
std::string HtmlReport(TVemo &network, const ImportRanges &ranges, const ClassRows &rows,
                       const HtmlReportSource &source);

} // namespace kestrane

#endif
