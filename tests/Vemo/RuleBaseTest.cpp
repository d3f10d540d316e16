#include "Vemo/RuleBase.h"
#include "KQmessage/TException.h"
#include "Vemo/RuleSimplify.h"
#include "Vemo/TVemo.h"
#include "tests/Vemo/RuleTestNetwork.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrane;

namespace {

std::vector<std::string> Texts(const std::vector<RuleArc> &arcs) {
  std::vector<std::string> texts;
  for (const RuleArc &arc : arcs)
    texts.push_back(arc.text);
  return texts;
}

double Sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

TEST(RuleBaseTest, TermNamesFollowTheCount) {
  const struct {
    int index, count;
    const char *name;
  } cases[] = {{0, 2, "low"},       {1, 2, "high"},   {1, 3, "medium"}, {0, 5, "very low"},
               {4, 5, "very high"}, {2, 5, "medium"}, {0, 4, "term 1"}, {6, 7, "term 7"}};
  for (const auto &c : cases)
    EXPECT_EQ(TermName(c.index, c.count), c.name) << c.index << "/" << c.count;
}

TEST(RuleBaseTest, RecoversKnownRulesFromWeights) {
  auto net = ruletest::KnownRulesNetwork();
  const RuleBase base = ExtractRules(*net, ruletest::KnownVocabulary(), RuleOptions(), nullptr);
  ASSERT_EQ(base.rules.size(), 3u);
  EXPECT_EQ(base.ruleArcs, 18);
  EXPECT_EQ(base.actionArcs, 12);

  const Rule &first = base.rules[0];
  EXPECT_EQ(first.node, 0);
  // The weak +0.5 arc is below half of the strongest (6) and not listed.
  EXPECT_EQ(Texts(first.conditions),
            (std::vector<std::string>{"size is high (\u2248 10)", "weight is not low (\u2248 2)"}));
  EXPECT_EQ(first.conditions[1].weight, -4.0);
  EXPECT_EQ(Texts(first.conclusions), (std::vector<std::string>{"A", "not B"}));
  EXPECT_EQ(first.concludedClass, 0);
  EXPECT_FALSE(first.against);
  EXPECT_DOUBLE_EQ(first.importance, Sigmoid(6.0) * 2.5);

  EXPECT_EQ(base.rules[1].node, 2);
  EXPECT_EQ(Texts(base.rules[1].conditions),
            (std::vector<std::string>{"size is not medium (\u2248 5)"}));
  EXPECT_EQ(Texts(base.rules[1].conclusions), (std::vector<std::string>{"A is not high"}));
  EXPECT_TRUE(base.rules[1].against);
  EXPECT_EQ(base.rules[1].againstClass, 0);
  EXPECT_DOUBLE_EQ(base.rules[1].importance, 0.5 * 2.0);

  EXPECT_EQ(base.rules[2].node, 1);
  EXPECT_EQ(Texts(base.rules[2].conditions),
            (std::vector<std::string>{"weight is medium (\u2248 3)"}));
  EXPECT_EQ(Texts(base.rules[2].conclusions), (std::vector<std::string>{"B"}));
  EXPECT_EQ(base.rules[2].concludedClass, 1);
}

TEST(RuleBaseTest, AbsoluteMinimumWeightAndTopK) {
  auto net = ruletest::KnownRulesNetwork();
  RuleOptions options;
  options.minWeight = 0.4;
  RuleBase base = ExtractRules(*net, ruletest::KnownVocabulary(), options, nullptr);
  EXPECT_EQ(base.rules[0].conditions.size(), 3u);
  EXPECT_EQ(base.rules[0].conditions[2].text, "size is low (\u2248 0)");
  KeepTopRules(base, 1);
  ASSERT_EQ(base.rules.size(), 1u);
  EXPECT_EQ(base.totalRules, 3);
}

TEST(RuleBaseTest, MeasuresOnRows) {
  auto net = ruletest::KnownRulesNetwork();
  const ClassRows rows = ruletest::KnownRows();
  const RuleBase base = ExtractRules(*net, ruletest::KnownVocabulary(), RuleOptions(), &rows);
  EXPECT_DOUBLE_EQ(base.accuracy, 100.0);
  EXPECT_DOUBLE_EQ(base.fidelity, 100.0);
  // Mean firing x pull: rule 0 (0.5 x (s(6) + s(-4)) x 2.5) first, then rule 2, then rule 1.
  ASSERT_EQ(base.rules[0].node, 0);
  EXPECT_DOUBLE_EQ(base.rules[0].meanFiring, (Sigmoid(6.0) + Sigmoid(-4.0)) / 2.0);
  EXPECT_EQ(base.rules[0].strongestRows, 1);
  EXPECT_EQ(base.rules[0].majorityClass, 0);
  EXPECT_DOUBLE_EQ(base.rules[0].purity, 1.0);
  EXPECT_EQ(base.rules[1].node, 1);
  EXPECT_EQ(base.rules[1].majorityClass, 1);
  EXPECT_EQ(base.rules[2].strongestRows, 0);
  EXPECT_EQ(base.rules[2].majorityClass, -1);
}

TEST(RuleBaseTest, ShufflingAConstantColumnCostsNothing) {
  auto net = ruletest::KnownRulesNetwork();
  ClassRows rows;
  rows.inputs = 2;
  rows.values = {1.0, 0.5, 0.0, 0.5, 0.5, 0.5, 0.9, 0.5};
  rows.classes = {0, 1, 1, 0};
  const RuleBase base = ExtractRules(*net, ruletest::KnownVocabulary(), RuleOptions(), &rows);
  ASSERT_EQ(base.featureImportance.size(), 2u);
  EXPECT_EQ(base.featureImportance[1].drop, 0.0);
  const RuleBase again = ExtractRules(*net, ruletest::KnownVocabulary(), RuleOptions(), &rows);
  EXPECT_EQ(again.featureImportance[0].drop, base.featureImportance[0].drop);
}

TEST(RuleBaseTest, RefusesMismatchedNamesAndRows) {
  auto net = ruletest::KnownRulesNetwork();
  RuleVocabulary names = ruletest::KnownVocabulary();
  names.inputNames.pop_back();
  EXPECT_THROW(ExtractRules(*net, names, RuleOptions(), nullptr), TException);
  ClassRows rows = ruletest::KnownRows();
  rows.inputs = 3;
  EXPECT_THROW(ExtractRules(*net, ruletest::KnownVocabulary(), RuleOptions(), &rows), TException);
  EXPECT_THROW(SimplifyRuleBase(*net, rows, 1.0), TException);
}

TEST(RuleSimplifyTest, RemovesWeakArcsWithinTheLimit) {
  for (const double maxDrop : {0.0, 100.0}) {
    auto net = ruletest::KnownRulesNetwork();
    const ClassRows rows = ruletest::KnownRows();
    const SimplifyReport report = SimplifyRuleBase(*net, rows, maxDrop);
    EXPECT_EQ(report.arcsBefore, 30);
    EXPECT_LT(report.arcsAfter, report.arcsBefore);
    EXPECT_GE(report.accuracyAfter, report.accuracyBefore - maxDrop);
    EXPECT_EQ(report.accuracyAfter, ClassAccuracy(*net, rows));
    EXPECT_EQ(report.rulesAfter, net->layers[3]->GetNumNeurons());
    EXPECT_GE(report.rulesAfter, 1);
    // Every membership function keeps an arc to a rule, or it could not stay.
    EXPECT_EQ(net->layers[2]->GetNumNeurons(), 6);
    for (int c = 0; c < 6; ++c) {
      bool any = false;
      for (int r = 0; r < report.rulesAfter; ++r)
        any = any || net->priv_conns_index[3][2]->IsValid(c, r);
      EXPECT_TRUE(any) << "condition " << c << " with limit " << maxDrop;
    }
  }
}

} // namespace
