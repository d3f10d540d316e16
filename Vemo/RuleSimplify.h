#ifndef KESTRANE_VEMO_RULESIMPLIFY_H
#define KESTRANE_VEMO_RULESIMPLIFY_H

// Shrinks the rule base of a trained TVemo: removes the weakest arcs of the
// prunable rule and action matrices while the class accuracy on labelled rows
// stays within a limit, then drops the rules left with no conclusion.

#include "Vemo/RuleRows.h"

namespace kestrane {

class TVemo;

struct SimplifyReport {
  long arcsBefore = 0; // arcs into the rule layer and out of it
  long arcsAfter = 0;
  int rulesBefore = 0;
  int rulesAfter = 0;
  double accuracyBefore = 0; // percent
  double accuracyAfter = 0;
  bool pruneable = false; // at least one of the two matrices could lose arcs
};

// Arcs are tried weakest |weight| first, in growing and shrinking batches; a
// batch that costs more than maxDrop accuracy points against the starting
// accuracy is put back, and a single arc that does is kept. Every condition
// neuron keeps an arc to a rule that still concludes something, and one rule
// at least is kept: the layers of membership functions cannot lose neurons.
// Rules without conclusions are then removed with PruneDeadNeurons.
// Raises TException for a network without the fuzzy layers or rows that do
// not fit it.
SimplifyReport SimplifyRuleBase(TVemo &network, const ClassRows &rows, double maxDrop);

} // namespace kestrane

#endif
