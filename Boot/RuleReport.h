#ifndef KESTRANE_BOOT_RULEREPORT_H
#define KESTRANE_BOOT_RULEREPORT_H

// The rule base as a reader sees it: a text report or one JSON document with
// the same content.

#include "Vemo/RuleBase.h"

#include <string>

namespace kestrane {

struct RuleReportSource {
  std::string networkFile;
  std::string dataFile; // empty without rows
};

std::string RulesText(const RuleBase &base, const RuleReportSource &source);
std::string RulesJson(const RuleBase &base, const RuleReportSource &source);

// The importance measure in words, for the two reports and the help text.
std::string ImportanceMeasure(const RuleBase &base);

} // namespace kestrane

#endif
