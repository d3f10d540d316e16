#ifndef KESTRANE_VEMO_VOTERULES_H
#define KESTRANE_VEMO_VOTERULES_H

// The rule base as a reader applies it by hand: a short list of crisp rules,
// fitted to the network's own answers, each a few conditions "feature >= cut"
// or "feature < cut" and one class with a vote. The reading: every class
// starts at its start score; every rule whose conditions all hold adds its
// vote to its class; the class with the largest total is the answer (the
// first in class order on a tie). Fidelity is the share of rows on which
// this reading gives the network's class.
//
// The rules are found one at a time, each the region and class that most
// reduce the softmax loss of the reading against the network's answers so far
// (a Newton step on the class's score), grown condition by condition; the
// cuts lie between the centres of each input's membership functions. Votes
// are rounded to the printed step before the next rule is sought, so the
// fidelity measured is that of the printed rules.

#include "Vemo/RuleRows.h"

#include <cstdint>
#include <vector>

namespace kestrane {

class TVemo;

struct VoteCondition {
  int input = 0;
  bool atLeast = true; // input >= cut; otherwise input < cut
  double cut = 0;      // on the network's [0, 1] scale
  double value = 0;    // the same cut in the input's units, 4 significant digits
};

struct VoteRule {
  std::vector<VoteCondition> conditions;
  int votedClass = 0;
  double vote = 0;   // a multiple of kVoteStep
  long covered = 0;  // rows on which every condition holds
  long agreeing = 0; // of those, rows the network gives votedClass
};

struct VoteReading {
  int classes = 0;
  std::vector<double> start;   // per class, a multiple of kVoteStep
  std::vector<VoteRule> rules; // grouped by class in class order, then as found
  bool sampled = false;        // fitted on inputs drawn uniformly, not on rows
  long rows = 0;               // rows (or drawn inputs) fitted and measured on
  double fidelity = 0;         // percent on which the reading gives the network's class
  bool withClasses = false;    // the rows carry expected classes
  double accuracy = 0;         // percent on which the reading gives the expected class
};

struct VoteOptions {
  int maxRules = 20;
  int maxConditions = 5;
  int samples = 4000; // inputs drawn when no rows are given
  uint32_t seed = 1;  // of the draws
  // The units of the inputs: the values that 0 and 1 stand for (empty: the
  // [0, 1] scale). Cuts are placed at values of 4 significant digits, so
  // that a reader comparing a row's own values with the printed ones
  // decides as the reading does.
  std::vector<double> inputMin, inputMax;
};

inline constexpr double kVoteStep = 0.1;

// Fits the reading to the network's answers on `rows` (scaled into [0, 1]),
// or without rows on inputs drawn uniformly from [0, 1]. Leaves the network's
// weights as they are.
VoteReading FitVoteRules(TVemo &network, const ClassRows *rows, const VoteOptions &options);

// The class the reading gives a scaled row.
int ApplyVoteRules(const VoteReading &reading, const double *scaled);

} // namespace kestrane

#endif
