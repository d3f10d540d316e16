#ifndef KESTRANE_TOOL_TOOLREPORT_H
#define KESTRANE_TOOL_TOOLREPORT_H

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// kestrane-tool report: one self-contained HTML page about a network and
// labelled rows (Boot/HtmlReport.h).
int ToolReport(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

extern const char *const kToolReportHelp;

} // namespace kestrane

#endif
