#ifndef KESTRANE_BOOT_TOOLCV_H
#define KESTRANE_BOOT_TOOLCV_H

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// kestrane-tool cv: stratified k-fold cross-validation of a CSV file over a
// grid of network and training settings.
int ToolCv(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

extern const char *const kToolCvHelp;

} // namespace kestrane

#endif
