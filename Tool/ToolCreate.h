#ifndef KESTRANE_BOOT_TOOLCREATE_H
#define KESTRANE_BOOT_TOOLCREATE_H

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// kestrane-tool create: writes an initial TVemo network file. Returns the exit
// status; raises ToolError (and what the network code raises) on failure, to
// be reported by RunGuarded.
int ToolCreate(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

extern const char *const kToolCreateHelp;

} // namespace kestrane

#endif
