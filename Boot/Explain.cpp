#include "Boot/Explain.h"

#include "KQmessage/TException.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "Vemo/RuleBase.h"
#include "Vemo/RuleRows.h"
#include "Vemo/TVemo.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace kestrane {

namespace {

// What the matrices from layers below `below` add to the neurons of `layer`,
// by the network's own code and in its order.
std::vector<double> BaseOf(TVemo &network, int layer, int below) {
  std::vector<double> net(static_cast<size_t>(network.GetLayerSize(layer)), 0.0);
  for (int f = 0; f < below; ++f)
    network.priv_conns_index[layer][f]->AddNetInputs(net.data());
  return net;
}

// The term the network's sum adds for the arc from -> to, or false without one.
bool Term(TBasicConnections *matrix, int from, int to, double activation, double &term) {
  if (!matrix->IsConnected() || !matrix->IsValid(from, to))
    return false;
  term = *matrix->GetWeightPtr(from, to) * activation;
  return true;
}

} // namespace

ExplainedRow ExplainRow(TVemo &network, const double *scaled, int top) {
  if (network.numLayers != TVemo::kNumLayers || network.GetConditionLayer() == nullptr ||
      network.GetOutputLayer() == nullptr) {
    throw TException("Not a fuzzy network with condition and output layers", "Bad Parameter",
                     "ExplainRow");
  }
  int I = 0, C = 0, R = 0, A = 0, O = 0;
  std::vector<int> mfIn, mfOut;
  network.GetStructure(I, C, mfIn, R, A, mfOut, O);
  std::vector<int> outputOf, termOf;
  for (int o = 0; o < O; ++o) {
    for (int t = 0; t < mfOut[static_cast<size_t>(o)]; ++t) {
      outputOf.push_back(o);
      termOf.push_back(t);
    }
  }
  if (static_cast<int>(outputOf.size()) != A)
    throw TException("Output counts do not match the action layer", "Bad Parameter", "ExplainRow");

  ExplainedRow row;
  row.scaled.assign(scaled, scaled + I);
  row.outputs.assign(static_cast<size_t>(O), 0.0);
  network.Recall(scaled, row.outputs.data());
  row.predicted = ClassOfOutputs(row.outputs.data(), O);
  const std::vector<double> &degrees = network.layers[TVemo::kConditionLayer]->activations;
  const std::vector<double> &firing = network.layers[TVemo::kRuleLayer]->activations;
  const std::vector<double> &actions = network.layers[TVemo::kActionLayer]->activations;
  row.degrees.assign(degrees.begin(), degrees.begin() + C);
  row.inputTerms = mfIn;

  // Centres and their mean per output: the weights of the class votes.
  std::vector<double> offset(static_cast<size_t>(A), 0.0);
  std::vector<double> mean(static_cast<size_t>(O), 0.0);
  row.terms.resize(static_cast<size_t>(A));
  for (int k = 0; k < A; ++k) {
    ExplainedTerm &t = row.terms[k];
    t.output = outputOf[k];
    t.term = termOf[k];
    network.GetWeightValue(TVemo::kOutputCentres, k, t.output, t.centre);
    mean[t.output] += t.centre / mfOut[t.output];
  }
  for (int k = 0; k < A; ++k)
    offset[k] = row.terms[k].centre - mean[outputOf[k]];

  const std::vector<double> actionBase = BaseOf(network, TVemo::kActionLayer, TVemo::kRuleLayer);
  const std::vector<double> ruleBase = BaseOf(network, TVemo::kRuleLayer, TVemo::kConditionLayer);
  // The net inputs as the network's own matrices add them up.
  const std::vector<double> actionNet = BaseOf(network, TVemo::kActionLayer, TVemo::kActionLayer);
  const std::vector<double> ruleNet = BaseOf(network, TVemo::kRuleLayer, TVemo::kRuleLayer);
  TBasicConnections *toRules = network.priv_conns_index[TVemo::kRuleLayer][TVemo::kConditionLayer];
  TBasicConnections *toActions = network.priv_conns_index[TVemo::kActionLayer][TVemo::kRuleLayer];

  row.rules.resize(static_cast<size_t>(R));
  for (int r = 0; r < R; ++r) {
    ExplainedRule &rule = row.rules[r];
    rule.node = r;
    rule.base = ruleBase[r];
    rule.firing = firing[r];
    rule.net = ruleNet[r];
    rule.toTerms.assign(static_cast<size_t>(A), 0.0);
    rule.votes.assign(static_cast<size_t>(O), 0.0);
    for (int k = 0; k < A; ++k) {
      double term = 0.0;
      if (Term(toActions, r, k, firing[r], term)) {
        rule.toTerms[k] = term;
      }
      rule.votes[outputOf[k]] += offset[k] * rule.toTerms[k];
    }
  }
  row.margins.assign(static_cast<size_t>(O), 0.0);
  row.voteBase.assign(static_cast<size_t>(O), 0.0);
  for (int k = 0; k < A; ++k) {
    ExplainedTerm &t = row.terms[k];
    t.base = actionBase[k];
    t.net = actionNet[k];
    t.activation = actions[k];
    row.margins[t.output] += offset[k] * t.net;
    row.voteBase[t.output] += offset[k] * t.base;
  }

  // The strongest rules: those that moved the answer's vote most, either way.
  const int answer = O > 1 ? row.predicted : 0;
  std::vector<int> order(static_cast<size_t>(R));
  for (int r = 0; r < R; ++r)
    order[r] = r;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return std::fabs(row.rules[a].votes[answer]) > std::fabs(row.rules[b].votes[answer]);
  });
  order.resize(static_cast<size_t>(std::clamp(top, 0, R)));
  row.strongest = order;
  std::vector<int> inputOf, inputTermOf;
  for (int i = 0; i < I; ++i) {
    for (int t = 0; t < mfIn[static_cast<size_t>(i)]; ++t) {
      inputOf.push_back(i);
      inputTermOf.push_back(t);
    }
  }
  for (int r : row.strongest) {
    std::vector<ExplainedCondition> arcs;
    for (int k = 0; k < C && k < static_cast<int>(inputOf.size()); ++k) {
      double term = 0.0;
      // A term at degree 0 adds nothing to the rule's sum: it is left out.
      if (degrees[k] != 0.0 && Term(toRules, k, r, degrees[k], term)) {
        arcs.push_back(
            {inputOf[k], inputTermOf[k], degrees[k], *toRules->GetWeightPtr(k, r), term});
      }
    }
    row.behind.push_back(std::move(arcs));
  }
  return row;
}

std::string ExplanationJson(const ExplainedRow &row, const ImportRanges &ranges,
                            const std::vector<double> &values, long number) {
  using Json = nlohmann::ordered_json;
  const auto className = [&](int o) {
    return o < static_cast<int>(ranges.classes.size()) ? ranges.classes[o]
                                                       : "y" + std::to_string(o + 1);
  };
  const auto featureName = [&](int i) {
    return i < static_cast<int>(ranges.features.size()) ? ranges.features[i].name
                                                        : "x" + std::to_string(i + 1);
  };
  const int O = static_cast<int>(row.outputs.size());
  const int I = static_cast<int>(row.scaled.size());
  std::vector<int> termCount(static_cast<size_t>(O), 0);
  for (const ExplainedTerm &t : row.terms)
    ++termCount[t.output];

  Json doc;
  doc["row"] = number;
  doc["predicted"] = O == 1 ? (row.predicted == 1 ? className(0) : "not " + className(0))
                            : className(row.predicted);
  Json classes = Json::array();
  for (int o = 0; o < O; ++o) {
    Json terms = Json::array();
    for (const ExplainedTerm &t : row.terms) {
      if (t.output != o)
        continue;
      terms.push_back({{"term", TermName(t.term, termCount[o])},
                       {"centre", t.centre},
                       {"base", t.base},
                       {"net", t.net},
                       {"activation", t.activation}});
    }
    classes.push_back({{"class", className(o)},
                       {"output", row.outputs[o]},
                       {"margin", row.margins[o]},
                       {"vote_base", row.voteBase[o]},
                       {"terms", terms}});
  }
  doc["classes"] = classes;
  Json rules = Json::array();
  for (const ExplainedRule &r : row.rules) {
    rules.push_back({{"node", r.node},
                     {"base", r.base},
                     {"net", r.net},
                     {"firing", r.firing},
                     {"votes", r.votes},
                     {"to_terms", r.toTerms}});
  }
  doc["rules"] = rules;
  Json inputs = Json::array();
  for (int i = 0, k = 0; i < I; ++i) {
    const int m = row.inputTerms[i];
    Json degrees = Json::object();
    for (int t = 0; t < m; ++t, ++k)
      degrees[TermName(t, m)] = row.degrees[static_cast<size_t>(k)];
    Json input;
    input["feature"] = featureName(i);
    input["value"] = i < static_cast<int>(values.size()) ? Json(values[i]) : Json();
    input["scaled"] = row.scaled[i];
    input["degrees"] = degrees;
    inputs.push_back(input);
  }
  doc["inputs"] = inputs;
  Json strongest = Json::array();
  const int answer = O > 1 ? row.predicted : 0;
  for (size_t s = 0; s < row.strongest.size(); ++s) {
    const ExplainedRule &r = row.rules[row.strongest[s]];
    Json conditions = Json::array();
    for (const ExplainedCondition &c : row.behind[s]) {
      conditions.push_back({{"feature", featureName(c.input)},
                            {"term", TermName(c.term, row.inputTerms[c.input])},
                            {"degree", c.degree},
                            {"weight", c.weight},
                            {"contribution", c.contribution}});
    }
    strongest.push_back({{"node", r.node},
                         {"firing", r.firing},
                         {"vote", r.votes[answer]},
                         {"conditions", conditions}});
  }
  doc["strongest"] = strongest;
  return doc.dump();
}

} // namespace kestrane
