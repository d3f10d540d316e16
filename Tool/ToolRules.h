#ifndef KESTRANE_BOOT_TOOLRULES_H
#define KESTRANE_BOOT_TOOLRULES_H

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// kestrane-tool rules: the rule base of a network in words (text or JSON).
int ToolRules(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
// kestrane-tool simplify: removes the weakest rule and action arcs within an
// accuracy limit and writes the smaller network.
int ToolSimplify(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

extern const char *const kToolRulesHelp;
extern const char *const kToolSimplifyHelp;

} // namespace kestrane

#endif
