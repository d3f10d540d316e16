#include "Boot/RuleReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

namespace kestrane {

namespace {

std::string Fixed(double value, int decimals, bool sign = false) {
  char text[48];
  std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
  return text;
}

std::string Percent(double share) { return Fixed(100.0 * share, 1) + "%"; }

// Width on a terminal: UTF-8 continuation bytes take no column.
size_t Columns(const std::string &text) {
  size_t columns = 0;
  for (unsigned char c : text)
    columns += (c & 0xC0) != 0x80 ? 1 : 0;
  return columns;
}

std::string PadRight(const std::string &text, size_t width) {
  const size_t columns = Columns(text);
  return columns >= width ? text + " " : text + std::string(width - columns, ' ');
}

std::string ClassName(const RuleBase &base, int k) {
  if (k < 0)
    return "";
  if (base.outputs.size() == 1)
    return k == 1 ? base.outputs[0].name : "not " + base.outputs[0].name;
  return base.outputs[static_cast<size_t>(k)].name;
}

std::string Conclusion(const RuleBase &base, const Rule &rule) {
  return rule.against ? "not " + ClassName(base, rule.againstClass)
                      : ClassName(base, rule.concludedClass);
}

std::string ListedArcs(const RuleBase &base) {
  if (base.options.minWeight >= 0.0)
    return "arcs with |weight| of at least " + Fixed(base.options.minWeight, 3);
  return "arcs with |weight| of at least " + Fixed(100.0 * base.options.minWeightShare, 0) +
         "% of the rule's largest (conditions and conclusions apart)";
}

void RuleParagraph(std::ostream &out, const RuleBase &base, const Rule &rule, size_t rank,
                   size_t width) {
  out << "Rule " << rank << " (node " << rule.node << ")";
  if (rule.concludedClass >= 0)
    out << " \u2192 " << Conclusion(base, rule);
  out << "   importance " << Fixed(rule.importance, 3) << "\n";
  if (rule.conditionArcs == 0) {
    out << "  if   (no condition: fires at the same strength, " << Fixed(rule.peakFiring, 2)
        << ", on every row)\n";
  } else if (rule.conditions.empty()) {
    out << "  if   (no listed condition)\n";
  }
  for (size_t i = 0; i < rule.conditions.size(); ++i) {
    const RuleArc &arc = rule.conditions[i];
    out << (i == 0 ? "  if   " : "  and  ") << PadRight(arc.text, width)
        << Fixed(arc.weight, 2, true) << "\n";
  }
  if (rule.conclusions.empty())
    out << "  then (no listed conclusion)\n";
  for (size_t i = 0; i < rule.conclusions.size(); ++i) {
    const RuleArc &arc = rule.conclusions[i];
    out << (i == 0 ? "  then " : "       ") << PadRight(arc.text, width)
        << Fixed(arc.weight, 2, true) << "\n";
  }
  if (rule.hasBias)
    out << "  bias " << PadRight("", width + 1) << Fixed(rule.bias, 2, true) << "\n";
  if (base.withRows) {
    out << "  fires " << Fixed(rule.meanFiring, 2) << " on average; strongest rule on "
        << Percent(rule.strongestShare) << " of the rows";
    if (rule.majorityClass >= 0) {
      out << ", " << Percent(rule.purity) << " of them " << ClassName(base, rule.majorityClass);
    }
    out << "\n";
  }
}

void PermutationLines(std::ostream &out, const RuleBase &base) {
  out << "Permutation importance (accuracy points lost when the feature is shuffled; mean of "
      << std::max(1, base.options.shuffles) << " shuffles, seed " << base.options.seed << "):\n";
  size_t nameWidth = 8;
  for (const RuleVariable &input : base.inputs)
    nameWidth = std::max(nameWidth, Columns(input.name) + 2);
  for (const FeatureImportance &f : base.featureImportance) {
    out << "  " << PadRight(base.inputs[static_cast<size_t>(f.input)].name, nameWidth)
        << Fixed(f.drop, 2, true) << "\n";
  }
}

} // namespace

std::string ImportanceMeasure(const RuleBase &base) {
  return base.withRows ? "mean firing on the rows x conclusion strength"
                       : "peak firing x conclusion strength (weights only)";
}

const char *const kVoteReadingHowTo =
    "To apply them: give every class its start score; for every rule whose conditions all "
    "hold, add its vote to its class; the answer is the class with the largest total (on a "
    "tie, the one listed first).";

std::string VoteClassName(const RuleBase &base, int k) { return ClassName(base, k); }

std::string VoteConditionText(const RuleBase &base, const VoteCondition &condition) {
  // An input of one category is 0 or 1 (or missing): a cut between them
  // splits the rows by the category, which is how a reader says it.
  const RuleVariable &input = base.inputs[static_cast<size_t>(condition.input)];
  if (!input.category.empty() && condition.cut > 0.0 && condition.cut <= 1.0) {
    if (condition.atLeast)
      return input.column + " is " + input.category;
    // Of two categories, "not one" is the other (a missing value meets neither).
    std::vector<const RuleVariable *> others;
    for (const RuleVariable &v : base.inputs) {
      if (&v != &input && !v.category.empty() && v.column == input.column)
        others.push_back(&v);
    }
    if (others.size() == 1)
      return input.column + " is " + others[0]->category;
    return input.column + " is not " + input.category;
  }
  char number[32];
  std::snprintf(number, sizeof number, "%.4g", condition.value);
  return base.inputs[static_cast<size_t>(condition.input)].name +
         (condition.atLeast ? " \u2265 " : " < ") + number;
}

std::string RulesText(const RuleBase &base, const RuleReportSource &source) {
  const VoteReading &v = base.votes;
  std::ostringstream out;
  out << "Rules of " << source.networkFile << ", read as votes: " << v.rules.size()
      << " rules, fitted to the network's answers on ";
  if (v.sampled)
    out << v.rows << " inputs drawn evenly from the ranges (give --data for your rows)\n";
  else
    out << "the " << v.rows << " rows of " << source.dataFile << "\n";
  out << kVoteReadingHowTo << "\n\nStart:";
  for (int c = 0; c < v.classes; ++c)
    out << (c == 0 ? " " : ", ") << ClassName(base, c) << " " << Fixed(v.start[c], 1);
  out << "\n";
  std::vector<std::string> lines;
  size_t width = 0;
  for (const VoteRule &rule : v.rules) {
    std::string line;
    for (size_t i = 0; i < rule.conditions.size(); ++i)
      line += (i == 0 ? "if " : " and ") + VoteConditionText(base, rule.conditions[i]);
    width = std::max(width, Columns(line));
    lines.push_back(line);
  }
  int shown = -1;
  const auto header = [&](int upTo) {
    for (++shown; shown <= upTo; ++shown) {
      out << "\n" << ClassName(base, shown) << "\n";
      const bool hasRules = std::any_of(v.rules.begin(), v.rules.end(), [&](const VoteRule &rule) {
        return rule.votedClass == shown;
      });
      if (!hasRules)
        out << "  (no rule: it keeps its start score)\n";
    }
    --shown;
  };
  for (size_t r = 0; r < v.rules.size(); ++r) {
    const VoteRule &rule = v.rules[r];
    if (rule.votedClass != shown)
      header(rule.votedClass);
    std::string number = std::to_string(r + 1) + ".";
    out << "  " << PadRight(number, 4) << PadRight(lines[r], width + 2) << "+"
        << Fixed(rule.vote, 1) << "   (" << rule.covered << " rows, "
        << Percent(rule.covered > 0 ? static_cast<double>(rule.agreeing) / rule.covered : 0.0)
        << " " << ClassName(base, rule.votedClass) << ")\n";
  }
  header(v.classes - 1);
  out << "\nThe rules give the network's class on " << Fixed(v.fidelity, 2) << "% of these "
      << (v.sampled ? "inputs" : "rows") << " (fidelity)";
  if (v.withClasses && base.classOutputs) {
    out << " and the rows' own class on " << Fixed(v.accuracy, 2)
        << "% (accuracy; the network's: " << Fixed(base.accuracy, 2) << "%)";
  }
  out << ".\n";
  if (base.withRows && base.classOutputs)
    PermutationLines(out, base);
  return out.str();
}

std::string NodeRulesText(const RuleBase &base, const RuleReportSource &source) {
  std::ostringstream out;
  out << "Rules of " << source.networkFile << ": " << base.totalRules << " rules over "
      << base.inputs.size() << " inputs and " << base.outputs.size()
      << (base.classOutputs ? " classes" : " outputs") << "; " << base.ruleArcs
      << " condition arcs, " << base.actionArcs << " conclusion arcs\n";
  out << "Listed: " << ListedArcs(base) << "\n";
  out << "Order: importance = " << ImportanceMeasure(base) << "\n";
  if (base.rules.size() < static_cast<size_t>(base.totalRules)) {
    out << "Shown: the " << base.rules.size() << " most important\n";
  }
  size_t width = 24;
  for (const Rule &rule : base.rules) {
    for (const RuleArc &arc : rule.conditions)
      width = std::max(width, Columns(arc.text) + 2);
    for (const RuleArc &arc : rule.conclusions)
      width = std::max(width, Columns(arc.text) + 2);
  }
  for (size_t i = 0; i < base.rules.size(); ++i) {
    out << "\n";
    RuleParagraph(out, base, base.rules[i], i + 1, width);
  }
  if (base.withRows) {
    out << "\nOn " << base.rows << " rows of " << source.dataFile;
    if (base.classOutputs) {
      out << ": accuracy " << Fixed(base.accuracy, 2) << "%, fidelity " << Fixed(base.fidelity, 2)
          << "% (rows whose strongest rule favours the network's class)\n";
      PermutationLines(out, base);
    } else {
      out << "\n";
    }
  }
  return out.str();
}

std::string RulesJson(const RuleBase &base, const RuleReportSource &source) {
  using Json = nlohmann::ordered_json;
  const auto variables = [](const std::vector<RuleVariable> &list) {
    Json all = Json::array();
    for (const RuleVariable &v : list) {
      Json terms = Json::array();
      for (const RuleTerm &t : v.terms)
        terms.push_back({{"name", t.name}, {"centre", t.centre}, {"value", t.value}});
      all.push_back({{"name", v.name}, {"terms", terms}});
    }
    return all;
  };
  const auto arcs = [](const std::vector<RuleArc> &list, const std::vector<RuleVariable> &vars,
                       const char *key) {
    Json all = Json::array();
    for (const RuleArc &a : list) {
      all.push_back(
          {{key, vars[static_cast<size_t>(a.variable)].name},
           {"term", vars[static_cast<size_t>(a.variable)].terms[static_cast<size_t>(a.term)].name},
           {"negated", a.negated},
           {"weight", a.weight},
           {"text", a.text}});
    }
    return all;
  };

  Json doc;
  doc["network"] = source.networkFile;
  doc["data"] = source.dataFile.empty() ? Json() : Json(source.dataFile);
  doc["rules_in_network"] = base.totalRules;
  doc["condition_arcs"] = base.ruleArcs;
  doc["conclusion_arcs"] = base.actionArcs;
  doc["min_weight_share"] =
      base.options.minWeight >= 0.0 ? Json() : Json(base.options.minWeightShare);
  doc["min_weight"] = base.options.minWeight >= 0.0 ? Json(base.options.minWeight) : Json();
  doc["importance_measure"] = ImportanceMeasure(base);
  doc["class_outputs"] = base.classOutputs;
  doc["inputs"] = variables(base.inputs);
  doc["outputs"] = variables(base.outputs);
  Json rules = Json::array();
  for (size_t i = 0; i < base.rules.size(); ++i) {
    const Rule &r = base.rules[i];
    Json rule;
    rule["rank"] = i + 1;
    rule["node"] = r.node;
    rule["conclusion"] = r.concludedClass >= 0 ? Json(Conclusion(base, r)) : Json();
    rule["class"] = r.concludedClass >= 0 ? Json(ClassName(base, r.concludedClass)) : Json();
    rule["against"] = r.against;
    rule["importance"] = r.importance;
    rule["conclusion_strength"] = r.conclusionStrength;
    rule["peak_firing"] = r.peakFiring;
    rule["pull"] = r.pull;
    rule["condition_arcs"] = r.conditionArcs;
    rule["conditions"] = arcs(r.conditions, base.inputs, "input");
    rule["conclusions"] = arcs(r.conclusions, base.outputs, "output");
    rule["bias"] = r.hasBias ? Json(r.bias) : Json();
    if (base.withRows) {
      rule["mean_firing"] = r.meanFiring;
      rule["strongest_rows"] = r.strongestRows;
      rule["strongest_share"] = r.strongestShare;
      rule["majority_class"] =
          r.majorityClass >= 0 ? Json(ClassName(base, r.majorityClass)) : Json();
      rule["purity"] = r.majorityClass >= 0 ? Json(r.purity) : Json();
    }
    rules.push_back(rule);
  }
  doc["rules"] = rules;
  {
    const VoteReading &v = base.votes;
    Json reading;
    reading["how_to_apply"] = kVoteReadingHowTo;
    reading["sampled"] = v.sampled;
    reading["rows"] = v.rows;
    Json start = Json::object();
    for (int c = 0; c < v.classes; ++c)
      start[ClassName(base, c)] = v.start[c];
    reading["start"] = start;
    Json list = Json::array();
    for (size_t r = 0; r < v.rules.size(); ++r) {
      const VoteRule &rule = v.rules[r];
      Json conditions = Json::array();
      for (const VoteCondition &c : rule.conditions) {
        conditions.push_back({{"input", base.inputs[static_cast<size_t>(c.input)].name},
                              {"at_least", c.atLeast},
                              {"value", c.value},
                              {"cut", c.cut},
                              {"text", VoteConditionText(base, c)}});
      }
      list.push_back({{"number", r + 1},
                      {"class", ClassName(base, rule.votedClass)},
                      {"vote", rule.vote},
                      {"conditions", conditions},
                      {"covered", rule.covered},
                      {"agreeing", rule.agreeing}});
    }
    reading["rules"] = list;
    reading["fidelity"] = v.fidelity;
    reading["accuracy"] = v.withClasses ? Json(v.accuracy) : Json();
    doc["vote_rules"] = reading;
  }
  if (base.withRows) {
    Json evaluation;
    evaluation["rows"] = base.rows;
    if (base.classOutputs) {
      evaluation["accuracy"] = base.accuracy;
      evaluation["fidelity"] = base.fidelity;
      evaluation["shuffles"] = std::max(1, base.options.shuffles);
      evaluation["seed"] = base.options.seed;
      Json importance = Json::array();
      for (const FeatureImportance &f : base.featureImportance) {
        importance.push_back(
            {{"feature", base.inputs[static_cast<size_t>(f.input)].name}, {"drop", f.drop}});
      }
      evaluation["permutation_importance"] = importance;
    }
    doc["evaluation"] = evaluation;
  }
  return doc.dump(2) + "\n";
}

} // namespace kestrane
