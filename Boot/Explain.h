#ifndef KESTRANE_BOOT_EXPLAIN_H
#define KESTRANE_BOOT_EXPLAIN_H

// Why the network gave a row its answer, in numbers that add up.
//
// An action neuron (one per output membership function) takes as net input
// what the lower layers add directly (`base`, nothing in a network create
// makes) plus, over the rules in node order, rule firing x weight. The
// explanation lists those products: summed one after the other in node order
// from +0.0, then added to `base`, they give the network's own net input to
// the last bit, because that is the order of the network's sum. The rule
// firings split the same way over the conditions (membership degree x
// weight). The class votes are a reading of the action terms: per output, the
// sum over its functions of (centre - mean centre) x term; they reproduce the
// output's margin (the same sum over the net inputs) to rounding only.

#include "DataTools/CsvImport/RangesFile.h"

#include <string>
#include <vector>

namespace kestrane {

class TVemo;

// One output membership function (action neuron) on one row.
struct ExplainedTerm {
  int output = 0;
  int term = 0;
  double centre = 0;
  double base = 0;       // what the layers below the rules add
  double net = 0;        // the network's net input: base + (sum of the rules' terms)
  double activation = 0; // the network's activation of the neuron
};

// One rule node on one row.
struct ExplainedRule {
  int node = 0;
  double base = 0;             // what the bias and input layers add directly
  double net = 0;              // base + (sum of the conditions' degree x weight)
  double firing = 0;           // the network's activation of the rule
  std::vector<double> toTerms; // per action neuron: weight x firing (0 without an arc)
  std::vector<double> votes;   // per output: sum of (centre - mean centre) x toTerms
};

// One arc into a rule, on one row: the input term's degree and its weight.
struct ExplainedCondition {
  int input = 0;
  int term = 0;
  double degree = 0;
  double weight = 0;
  double contribution = 0; // weight x degree
};

struct ExplainedRow {
  std::vector<double> scaled;  // the inputs on the network's [0, 1] scale
  std::vector<double> degrees; // every condition neuron's degree, input by input
  std::vector<int> inputTerms; // membership functions per input
  std::vector<double> outputs;
  int predicted = 0;
  std::vector<ExplainedTerm> terms; // every action neuron
  std::vector<double> margins;      // per output: sum of (centre - mean centre) x net
  std::vector<double> voteBase;     // per output: the same sum over the terms' bases
  std::vector<ExplainedRule> rules; // every rule, in node order
  std::vector<int> strongest;       // rule nodes by |vote for the answer|, largest first
  std::vector<std::vector<ExplainedCondition>> behind; // per strongest rule: its arcs from
                                                       // terms with a degree other than 0
};

// Runs the network on one scaled row and explains it; `top` strongest rules
// get their conditions. Raises TException for a network without the fuzzy layers.
ExplainedRow ExplainRow(TVemo &network, const double *scaled, int top);

// One row's explanation as one line of JSON (no line end): the names come
// from the ranges, `values` are the row's unscaled feature values, `row` its
// number (from 1).
std::string ExplanationJson(const ExplainedRow &row, const ImportRanges &ranges,
                            const std::vector<double> &values, long number);

// How many strongest rules an explanation details unless asked otherwise.
inline constexpr int kExplainedRules = 5;

} // namespace kestrane

#endif
