#ifndef KESTRANE_TESTS_VEMO_RULETESTNETWORK_H
#define KESTRANE_TESTS_VEMO_RULETESTNETWORK_H

// A network whose rules are known, for the rule reading and simplifying tests.
// Inputs "size" (0..10) and "weight" (2..4), three functions each; classes A
// and B, two output functions each (action neurons: A low, A high, B low, B high).
//   rule 0: size is high (+6), weight is not low (-4), size is low (+0.5, weak)
//           -> A high (+5), B low (+3)            pulls A +2.5, B -1.5: "A"
//   rule 1: weight is medium (+3) -> B high (+2)  pulls B +1: "B"
//   rule 2: size is medium (-2)  -> A high (-4)   pulls A -2: "not A"
// Every other arc exists with weight 0. By weights alone (peak firing x
// largest pull) the order is rule 0 (2.49), rule 2 (1.0), rule 1 (0.95).

#include "Vemo/RuleBase.h"
#include "Vemo/TVemo.h"

#include <memory>

namespace ruletest {

inline std::unique_ptr<kestrane::TVemo> KnownRulesNetwork() {
  const int mfIn[] = {3, 3};
  const int mfOut[] = {2, 2};
  auto net = std::make_unique<kestrane::TVemo>(2, mfIn, 3, mfOut, 2);
  net->InitWeights(0.0, 0.0);
  // Weight layer 2: condition neuron -> rule; 3: rule -> action neuron.
  net->SetWeightValue(2, 2, 0, 6.0);
  net->SetWeightValue(2, 3, 0, -4.0);
  net->SetWeightValue(2, 0, 0, 0.5);
  net->SetWeightValue(3, 0, 1, 5.0);
  net->SetWeightValue(3, 0, 2, 3.0);
  net->SetWeightValue(2, 4, 1, 3.0);
  net->SetWeightValue(3, 1, 3, 2.0);
  net->SetWeightValue(2, 1, 2, -2.0);
  net->SetWeightValue(3, 2, 1, -4.0);
  return net;
}

inline kestrane::RuleVocabulary KnownVocabulary() {
  kestrane::RuleVocabulary v;
  v.inputNames = {"size", "weight"};
  v.inputMin = {0.0, 2.0};
  v.inputMax = {10.0, 4.0};
  v.outputNames = {"A", "B"};
  v.classOutputs = true;
  return v;
}

// Row (1, 0.5): rule 0 fires most, the network answers A. Row (0.5, 0):
// rule 1 fires most, the network answers B.
inline kestrane::ClassRows KnownRows() {
  kestrane::ClassRows rows;
  rows.inputs = 2;
  rows.values = {1.0, 0.5, 0.5, 0.0};
  rows.classes = {0, 1};
  return rows;
}

} // namespace ruletest

#endif
