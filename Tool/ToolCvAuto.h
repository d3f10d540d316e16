#ifndef KESTRANE_TOOL_TOOLCVAUTO_H
#define KESTRANE_TOOL_TOOLCVAUTO_H

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// kestrane-tool cv --auto: the self-tuning search (Boot/AutoSearch.h) of a
// CSV file within a time budget, and the winner trained on all rows.
int ToolCvAuto(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

std::string ToolCvAutoHelp();

} // namespace kestrane

#endif
