#include "Vemo/RuleBase.h"

#include "KQmessage/TException.h"
#include "NeuralNets/TBasicConnections.h"
#include "Vemo/TVemo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace kestrane {

namespace {

const char *const kFunction = "ExtractRules";

[[noreturn]] void Refuse(const char *message) {
  throw TException(message, "Bad Parameter", kFunction);
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

// The weight of an arc, or nothing when the matrix lacks it.
bool ArcWeight(TBasicConnections *matrix, int from, int to, double &weight) {
  if (!matrix->IsConnected() || !matrix->IsValid(from, to))
    return false;
  weight = *matrix->GetWeightPtr(from, to);
  return true;
}

TBasicConnections *ConditionsToRules(TVemo &network) {
  return network.priv_conns_index[TVemo::kRuleLayer][TVemo::kConditionLayer];
}

TBasicConnections *RulesToActions(TVemo &network) {
  return network.priv_conns_index[TVemo::kActionLayer][TVemo::kRuleLayer];
}

struct Shape {
  int I = 0, C = 0, R = 0, A = 0, O = 0;
  std::vector<int> mfIn, mfOut;
  std::vector<int> inputOf;  // per condition neuron
  std::vector<int> termOf;   // per condition neuron
  std::vector<int> outputOf; // per action neuron
  std::vector<int> actionTermOf;
};

Shape ReadShape(TVemo &network) {
  if (network.numLayers != TVemo::kNumLayers || network.GetConditionLayer() == nullptr ||
      network.GetOutputLayer() == nullptr) {
    Refuse("Not a fuzzy network with condition and output layers");
  }
  Shape s;
  network.GetStructure(s.I, s.C, s.mfIn, s.R, s.A, s.mfOut, s.O);
  for (int i = 0; i < static_cast<int>(s.mfIn.size()); ++i) {
    for (int t = 0; t < s.mfIn[i]; ++t) {
      s.inputOf.push_back(i);
      s.termOf.push_back(t);
    }
  }
  for (int o = 0; o < static_cast<int>(s.mfOut.size()); ++o) {
    for (int t = 0; t < s.mfOut[o]; ++t) {
      s.outputOf.push_back(o);
      s.actionTermOf.push_back(t);
    }
  }
  if (static_cast<int>(s.inputOf.size()) != s.C || static_cast<int>(s.outputOf.size()) != s.A ||
      static_cast<int>(s.mfIn.size()) != s.I || static_cast<int>(s.mfOut.size()) != s.O) {
    Refuse("Membership-function counts do not match the layer sizes");
  }
  return s;
}

std::vector<RuleVariable> InputVariables(TVemo &network, const Shape &s, const RuleVocabulary &v) {
  std::vector<RuleVariable> inputs(static_cast<size_t>(s.I));
  for (int i = 0; i < s.I; ++i) {
    inputs[i].name =
        i < static_cast<int>(v.inputNames.size()) ? v.inputNames[i] : "x" + std::to_string(i + 1);
    if (i < static_cast<int>(v.inputCategories.size()) &&
        i < static_cast<int>(v.inputColumns.size())) {
      inputs[i].column = v.inputColumns[i];
      inputs[i].category = v.inputCategories[i];
    }
  }
  for (int k = 0; k < s.C; ++k) {
    const int i = s.inputOf[k];
    RuleTerm term;
    term.name = TermName(s.termOf[k], s.mfIn[i]);
    network.GetWeightValue(TVemo::kConditionCentres, i, k, term.centre);
    const bool scaled =
        i < static_cast<int>(v.inputMin.size()) && i < static_cast<int>(v.inputMax.size());
    term.value =
        scaled ? v.inputMin[i] + term.centre * (v.inputMax[i] - v.inputMin[i]) : term.centre;
    inputs[i].terms.push_back(term);
  }
  return inputs;
}

std::vector<RuleVariable> OutputVariables(TVemo &network, const Shape &s, const RuleVocabulary &v) {
  std::vector<RuleVariable> outputs(static_cast<size_t>(s.O));
  for (int o = 0; o < s.O; ++o) {
    outputs[o].name =
        o < static_cast<int>(v.outputNames.size()) ? v.outputNames[o] : "y" + std::to_string(o + 1);
  }
  for (int k = 0; k < s.A; ++k) {
    const int o = s.outputOf[k];
    RuleTerm term;
    term.name = TermName(s.actionTermOf[k], s.mfOut[o]);
    network.GetWeightValue(TVemo::kOutputCentres, k, o, term.centre);
    term.value = term.centre;
    outputs[o].terms.push_back(term);
  }
  return outputs;
}

std::string ConditionText(const RuleVariable &input, int term, bool negated) {
  const RuleTerm &t = input.terms[term];
  // Two crisp terms read as the category itself; with more, the middle
  // ones have no such reading and keep their names.
  if (!input.category.empty() && input.terms.size() == 2) {
    const bool is = (term == 1) != negated;
    return input.column + (is ? " is " : " is not ") + input.category;
  }
  return input.name + (negated ? " is not " : " is ") + t.name + " (\u2248 " + Number(t.value) +
         ")";
}

std::string ConclusionText(const RuleVariable &output, int term, bool negated, bool classOutputs) {
  const int last = static_cast<int>(output.terms.size()) - 1;
  if (classOutputs && !negated && term == last)
    return output.name;
  if (classOutputs && !negated && term == 0)
    return "not " + output.name;
  const std::string phrase =
      output.name + (negated ? " is not " : " is ") + output.terms[term].name;
  return classOutputs ? phrase : phrase + " (\u2248 " + Number(output.terms[term].value) + ")";
}

// The arcs worth listing, strongest first (ties: lower neuron first).
std::vector<std::pair<int, double>> Listed(const std::vector<std::pair<int, double>> &arcs,
                                           const RuleOptions &options) {
  double largest = 0.0;
  for (const auto &arc : arcs)
    largest = std::max(largest, std::fabs(arc.second));
  const double threshold =
      options.minWeight >= 0.0 ? options.minWeight : options.minWeightShare * largest;
  std::vector<std::pair<int, double>> kept;
  for (const auto &arc : arcs) {
    const double size = std::fabs(arc.second);
    if (size > 0.0 && size >= threshold)
      kept.push_back(arc);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const auto &a, const auto &b) {
    return std::fabs(a.second) > std::fabs(b.second);
  });
  return kept;
}

Rule ReadRule(TVemo &network, const Shape &s, const RuleBase &base, const RuleOptions &options,
              int r) {
  Rule rule;
  rule.node = r;
  TBasicConnections *conditions = ConditionsToRules(network);
  TBasicConnections *actions = RulesToActions(network);
  TBasicConnections *bias = network.priv_conns_index[TVemo::kRuleLayer][TVemo::kBiasLayer];

  std::vector<std::pair<int, double>> in;
  std::vector<double> best(static_cast<size_t>(s.I), -HUGE_VAL);
  for (int k = 0; k < s.C; ++k) {
    double w = 0.0;
    const bool exists = ArcWeight(conditions, k, r, w);
    if (exists)
      in.emplace_back(k, w);
    best[s.inputOf[k]] = std::max(best[s.inputOf[k]], exists ? w : 0.0);
  }
  for (int b = 0; b < network.GetLayerSize(TVemo::kBiasLayer); ++b) {
    double w = 0.0;
    if (ArcWeight(bias, b, r, w)) {
      rule.hasBias = true;
      rule.bias += w;
    }
  }
  // Neighbouring triangles add up to 1, so an input contributes at most its
  // largest weight (at that function's centre).
  double peak = rule.bias;
  for (int i = 0; i < s.I; ++i)
    peak += s.mfIn[i] > 0 ? best[i] : 0.0;
  rule.peakFiring = 1.0 / (1.0 + std::exp(-peak));
  rule.conditionArcs = static_cast<int>(in.size());
  for (const auto &arc : Listed(in, options)) {
    RuleArc listed;
    listed.variable = s.inputOf[arc.first];
    listed.term = s.termOf[arc.first];
    listed.weight = arc.second;
    listed.negated = arc.second < 0.0;
    listed.text = ConditionText(base.inputs[listed.variable], listed.term, listed.negated);
    rule.conditions.push_back(listed);
  }

  std::vector<std::pair<int, double>> out;
  rule.pull.assign(static_cast<size_t>(s.O), 0.0);
  std::vector<double> meanCentre(static_cast<size_t>(s.O), 0.0);
  for (int o = 0; o < s.O; ++o) {
    for (const RuleTerm &t : base.outputs[o].terms)
      meanCentre[o] += t.centre / static_cast<double>(s.mfOut[o]);
  }
  for (int k = 0; k < s.A; ++k) {
    double w = 0.0;
    if (!ArcWeight(actions, r, k, w))
      continue;
    out.emplace_back(k, w);
    const int o = s.outputOf[k];
    rule.pull[o] += w * (base.outputs[o].terms[s.actionTermOf[k]].centre - meanCentre[o]);
  }
  for (const auto &arc : Listed(out, options)) {
    RuleArc listed;
    listed.variable = s.outputOf[arc.first];
    listed.term = s.actionTermOf[arc.first];
    listed.weight = arc.second;
    listed.negated = arc.second < 0.0;
    listed.text = ConclusionText(base.outputs[listed.variable], listed.term, listed.negated,
                                 base.classOutputs);
    rule.conclusions.push_back(listed);
  }
  int favoured = 0;
  int opposed = 0;
  for (int o = 0; o < s.O; ++o) {
    rule.conclusionStrength = std::max(rule.conclusionStrength, std::fabs(rule.pull[o]));
    if (rule.pull[o] > rule.pull[favoured])
      favoured = o;
    if (rule.pull[o] < rule.pull[opposed])
      opposed = o;
  }
  if (base.classOutputs && s.O == 1)
    rule.concludedClass = rule.pull[0] > 0.0 ? 1 : 0;
  if (base.classOutputs && s.O > 1) {
    rule.concludedClass = favoured;
    rule.against = -rule.pull[opposed] > rule.pull[favoured];
    rule.againstClass = rule.against ? opposed : -1;
  }
  return rule;
}

// Forward passes over the rows: firing of every rule, the strongest rule and
// the class purity of its rows, fidelity and accuracy.
void MeasureOnRows(TVemo &network, const Shape &s, const ClassRows &rows, RuleBase &base) {
  const size_t n = rows.Rows();
  const int classes = s.O == 1 ? 2 : s.O;
  std::vector<double> output(static_cast<size_t>(s.O));
  std::vector<double> firing(static_cast<size_t>(s.R), 0.0);
  std::vector<std::vector<long>> classCounts(static_cast<size_t>(s.R),
                                             std::vector<long>(static_cast<size_t>(classes), 0));
  long correct = 0;
  long faithful = 0;
  for (size_t row = 0; row < n; ++row) {
    network.Recall(rows.Row(row), output.data());
    const std::vector<double> &act = network.layers[TVemo::kRuleLayer]->activations;
    int top = 0;
    for (int r = 0; r < s.R; ++r) {
      firing[r] += act[r];
      if (act[r] > act[top])
        top = r;
    }
    const int expected = rows.classes[row];
    const int answer = ClassOfOutputs(output.data(), s.O);
    if (answer == expected)
      ++correct;
    if (s.R > 0) {
      Rule &strongest = base.rules[static_cast<size_t>(top)];
      ++strongest.strongestRows;
      if (expected >= 0 && expected < classes)
        ++classCounts[top][expected];
      if (strongest.concludedClass == answer)
        ++faithful;
    }
  }
  const double total = static_cast<double>(n);
  for (int r = 0; r < s.R; ++r) {
    Rule &rule = base.rules[r];
    rule.meanFiring = n > 0 ? firing[r] / total : 0.0;
    rule.strongestShare = n > 0 ? static_cast<double>(rule.strongestRows) / total : 0.0;
    const auto &counts = classCounts[r];
    const auto majority = std::max_element(counts.begin(), counts.end());
    if (rule.strongestRows > 0 && base.classOutputs) {
      rule.majorityClass = static_cast<int>(majority - counts.begin());
      rule.purity = static_cast<double>(*majority) / static_cast<double>(rule.strongestRows);
    }
  }
  base.rows = static_cast<long>(n);
  if (base.classOutputs && n > 0) {
    base.accuracy = 100.0 * static_cast<double>(correct) / total;
    base.fidelity = 100.0 * static_cast<double>(faithful) / total;
  }
}

// The accuracy lost when one input column is shuffled across the rows,
// averaged over shuffles. A Mersenne twister with a fixed seed and a plain
// Fisher-Yates walk give the same shuffles on every platform.
void MeasurePermutationImportance(TVemo &network, const ClassRows &rows, RuleBase &base) {
  const size_t n = rows.Rows();
  const int shuffles = std::max(1, base.options.shuffles);
  ClassRows shuffled = rows;
  for (int input = 0; input < rows.inputs; ++input) {
    double lost = 0.0;
    for (int s = 0; s < shuffles; ++s) {
      std::mt19937 random(base.options.seed + static_cast<uint32_t>(s));
      std::vector<size_t> order(n);
      for (size_t r = 0; r < n; ++r)
        order[r] = r;
      for (size_t r = n; r > 1; --r)
        std::swap(order[r - 1], order[random() % r]);
      for (size_t r = 0; r < n; ++r) {
        shuffled.values[r * rows.inputs + input] = rows.values[order[r] * rows.inputs + input];
      }
      lost += base.accuracy - ClassAccuracy(network, shuffled);
    }
    for (size_t r = 0; r < n; ++r)
      shuffled.values[r * rows.inputs + input] = rows.values[r * rows.inputs + input];
    base.featureImportance.push_back({input, lost / shuffles});
  }
}

} // namespace

std::string TermName(int index, int count) {
  static const char *const two[] = {"low", "high"};
  static const char *const three[] = {"low", "medium", "high"};
  static const char *const five[] = {"very low", "low", "medium", "high", "very high"};
  if (count == 2)
    return two[index];
  if (count == 3)
    return three[index];
  if (count == 5)
    return five[index];
  return "term " + std::to_string(index + 1);
}

RuleBase ExtractRules(TVemo &network, const RuleVocabulary &vocabulary, const RuleOptions &options,
                      const ClassRows *rows) {
  const Shape s = ReadShape(network);
  if (!vocabulary.inputNames.empty() && static_cast<int>(vocabulary.inputNames.size()) != s.I) {
    Refuse("The names do not match the network's inputs");
  }
  if (!vocabulary.outputNames.empty() && static_cast<int>(vocabulary.outputNames.size()) != s.O) {
    Refuse("The names do not match the network's outputs");
  }
  if (rows != nullptr &&
      (rows->inputs != s.I || rows->values.size() != rows->Rows() * static_cast<size_t>(s.I))) {
    Refuse("The rows do not match the network's inputs");
  }
  RuleBase base;
  base.options = options;
  base.classOutputs = vocabulary.classOutputs;
  base.inputs = InputVariables(network, s, vocabulary);
  base.outputs = OutputVariables(network, s, vocabulary);
  base.totalRules = s.R;
  for (int r = 0; r < s.R; ++r) {
    for (int k = 0; k < s.C; ++k)
      base.ruleArcs += ConditionsToRules(network)->IsValid(k, r) ? 1 : 0;
    for (int k = 0; k < s.A; ++k)
      base.actionArcs += RulesToActions(network)->IsValid(r, k) ? 1 : 0;
    base.rules.push_back(ReadRule(network, s, base, options, r));
  }
  VoteOptions votes = options.votes;
  votes.inputMin = vocabulary.inputMin;
  votes.inputMax = vocabulary.inputMax;
  base.votes = FitVoteRules(network, rows, votes);
  if (rows != nullptr) {
    base.withRows = true;
    MeasureOnRows(network, s, *rows, base);
    if (base.classOutputs && rows->Rows() > 0)
      MeasurePermutationImportance(network, *rows, base);
  }
  for (Rule &rule : base.rules) {
    rule.importance = (base.withRows ? rule.meanFiring : rule.peakFiring) * rule.conclusionStrength;
  }
  std::stable_sort(base.rules.begin(), base.rules.end(),
                   [](const Rule &a, const Rule &b) { return a.importance > b.importance; });
  return base;
}

void KeepTopRules(RuleBase &base, int k) {
  if (k >= 0 && static_cast<size_t>(k) < base.rules.size())
    base.rules.resize(static_cast<size_t>(k));
}

} // namespace kestrane
