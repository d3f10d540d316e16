#ifndef KESTRANE_VEMO_RULEBASE_H
#define KESTRANE_VEMO_RULEBASE_H

// The rule base a trained TVemo holds, in words: every rule node with its
// conditions (weights from the membership functions of the inputs), its
// conclusions (weights to the membership functions of the outputs), its
// importance and, given labelled rows, how it behaves on them. The command
// line tool prints it as text or JSON; other front ends read the structure.

#include "Vemo/RuleRows.h"
#include "Vemo/VoteRules.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrane {

class TVemo;

// What the inputs and outputs are called and, for inputs, the units their
// [0, 1] scale stands for. Empty vectors mean "x1".., "y1".. and the unit scale.
struct RuleVocabulary {
  std::vector<std::string> inputNames;
  std::vector<double> inputMin; // the value an input of 0 stands for
  std::vector<double> inputMax; // the value an input of 1 stands for
  // Per input, when it stands for one category of a column: that column and
  // category (empty for an ordinary input, or when the lists are short).
  std::vector<std::string> inputColumns;
  std::vector<std::string> inputCategories;
  std::vector<std::string> outputNames;
  // Outputs are one-hot classes: "class X is high" reads as "X" and
  // "class X is low" as "not X", and every rule concludes for or against one class.
  bool classOutputs = false;
};

struct RuleOptions {
  // An arc is listed when |weight| >= minWeightShare x the largest |weight|
  // among the rule's arcs of the same kind (conditions or conclusions) ...
  double minWeightShare = 0.5;
  // ... or, when minWeight >= 0, when |weight| >= minWeight.
  double minWeight = -1.0;
  // Permutation importance: shuffles per feature, and the seed of the first.
  int shuffles = 5;
  uint32_t seed = 1;
  // The reading by votes (Vemo/VoteRules.h): its size, and its draws without rows.
  VoteOptions votes;
};

// A membership function of an input or an output.
struct RuleTerm {
  std::string name;  // "low", "medium", "term 4", ...
  double centre = 0; // on the network's [0, 1] scale
  double value = 0;  // in the variable's own units (inputs; outputs keep [0, 1])
};

struct RuleVariable {
  std::string name;
  std::vector<RuleTerm> terms;
  // An input that is 1 for one category of a column and 0 for the others.
  // With two terms its high term reads "column is category", its low term
  // "column is not category"; a cut between 0 and 1 reads the same way.
  std::string column;
  std::string category; // empty: an ordinary variable
};

// One listed arc of a rule: "feature is [not] term" or "output is [not] term".
struct RuleArc {
  int variable = 0; // input or output number
  int term = 0;     // membership function of that variable
  double weight = 0;
  bool negated = false; // negative weight
  std::string text;     // "petal_length is high (≈ 6.9)", "virginica", "not setosa"
};

struct Rule {
  int node = 0;                     // rule neuron (layer 3)
  int conditionArcs = 0;            // all arcs into the rule from the conditions
  std::vector<RuleArc> conditions;  // strongest first
  std::vector<RuleArc> conclusions; // strongest first
  bool hasBias = false;
  double bias = 0; // sum of the bias neurons' weights into the rule
  // How far one unit of firing moves each output's centre-of-gravity
  // numerator: sum over its functions of weight x (centre - mean centre).
  std::vector<double> pull;
  double conclusionStrength = 0; // the largest |pull|
  // Class outputs: the class the rule favours (the largest pull), and
  // `against` when a negative pull outweighs it: the rule then reads
  // "not <againstClass>".
  int concludedClass = -1;
  bool against = false;
  int againstClass = -1;
  double peakFiring = 0; // the highest firing any input can give
  double importance = 0;
  // With rows:
  double meanFiring = 0;
  long strongestRows = 0;    // rows on which this rule fires most
  double strongestShare = 0; // of all rows
  int majorityClass = -1;    // expected class most frequent on those rows
  double purity = 0;         // share of those rows in the majority class
};

struct FeatureImportance {
  int input = 0;
  double drop = 0; // accuracy points lost when the column is shuffled (mean)
};

struct RuleBase {
  std::vector<RuleVariable> inputs;
  std::vector<RuleVariable> outputs;
  bool classOutputs = false;
  RuleOptions options;
  int totalRules = 0;      // rule nodes in the network
  long ruleArcs = 0;       // arcs into the rule layer from the conditions
  long actionArcs = 0;     // arcs from the rule layer to the actions
  std::vector<Rule> rules; // by importance, most important first
  bool withRows = false;
  long rows = 0;
  double accuracy = 0; // percent
  double fidelity = 0; // percent of rows whose strongest rule favours the network's class
  std::vector<FeatureImportance> featureImportance; // in input order
  // The rules as a reader applies them: crisp conditions, one class and a
  // vote each, fitted to the network's answers on the rows (or on drawn inputs).
  VoteReading votes;
};

// Names the membership functions of a variable with `count` functions.
std::string TermName(int index, int count);

// Reads the rules of `network` (sizes must match the vocabulary where it is
// given). `rows`, when not null, adds the measures on data: rows must hold
// the network's number of inputs, and for class outputs a class per row.
// Raises TException for a network without the fuzzy layers.
RuleBase ExtractRules(TVemo &network, const RuleVocabulary &vocabulary, const RuleOptions &options,
                      const ClassRows *rows);

// Keeps the first k rules (k < 0 keeps all).
void KeepTopRules(RuleBase &base, int k);

} // namespace kestrane

#endif
