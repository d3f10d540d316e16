#ifndef KESTRANE_BOOT_TOOLPREDICT_H
#define KESTRANE_BOOT_TOOLPREDICT_H

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// kestrane-tool predict: the class of every row of a CSV file, with the
// network's output for each class, as a CSV table.
int ToolPredict(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

extern const char *const kToolPredictHelp;

} // namespace kestrane

#endif
