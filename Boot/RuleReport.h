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

// The reading by votes (what `rules` prints), and the network's rule nodes
// one paragraph each (`rules --nodes`). The JSON document holds both.
std::string RulesText(const RuleBase &base, const RuleReportSource &source);
std::string NodeRulesText(const RuleBase &base, const RuleReportSource &source);
std::string RulesJson(const RuleBase &base, const RuleReportSource &source);

// A vote rule's condition in the feature's units ("petal_length >= 4.93"),
// and the rule's class.
std::string VoteConditionText(const RuleBase &base, const VoteCondition &condition);
std::string VoteClassName(const RuleBase &base, int k);
// How to apply the reading, in one paragraph.
extern const char *const kVoteReadingHowTo;

// The importance measure in words, for the two reports and the help text.
std::string ImportanceMeasure(const RuleBase &base);

} // namespace kestrane

#endif
