// A row's explanation must add up to what the network computed: the rules'
// terms, summed in node order and added to the base, give the net input
// whose sigmoid is the network's own activation, bit for bit; the degree x
// weight terms of a rule do the same for its firing; the class votes give the
// margins to rounding; the activations give the outputs.

#include "Boot/Explain.h"
#include "Boot/FitPipeline.h"
#include "Boot/Model.h"

#include "NeuralNets/ActFunctions.h"
#include "Vemo/TVemo.h"

#include "DataTools/CsvImport/CsvImport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

uint64_t Bits(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

double Activation(TVemo &network, int layer, int node) {
  double value = 0;
  network.GetActivationValue(layer, node, value);
  return value;
}

// Checks one explained row against the activations the network holds for it.
void ExpectAddsUp(TVemo &network, const ExplainedRow &row, const std::string &where) {
  SCOPED_TRACE(where);
  const size_t A = row.terms.size();
  const size_t O = row.outputs.size();
  for (size_t k = 0; k < A; ++k) {
    double sum = 0.0;
    for (const ExplainedRule &rule : row.rules)
      sum = sum + rule.toTerms[k];
    const double net = row.terms[k].base + sum;
    ASSERT_EQ(Bits(net), Bits(row.terms[k].net)) << "action " << k;
    ASSERT_EQ(Bits(SigmoidOf(net)), Bits(Activation(network, TVemo::kActionLayer, int(k))));
  }
  for (size_t s = 0; s < row.strongest.size(); ++s) {
    const ExplainedRule &rule = row.rules[static_cast<size_t>(row.strongest[s])];
    double sum = 0.0;
    for (const ExplainedCondition &c : row.behind[s])
      sum = sum + c.contribution;
    ASSERT_EQ(Bits(rule.base + sum), Bits(rule.net)) << "rule " << rule.node;
    ASSERT_EQ(Bits(SigmoidOf(rule.net)), Bits(Activation(network, TVemo::kRuleLayer, rule.node)));
  }
  for (size_t o = 0; o < O; ++o) {
    double votes = row.voteBase[o], scale = std::fabs(row.voteBase[o]);
    double num = 0.0, den = 0.0;
    for (const ExplainedRule &rule : row.rules) {
      votes += rule.votes[o];
      scale += std::fabs(rule.votes[o]);
    }
    EXPECT_NEAR(votes, row.margins[o], 1e-12 * (1.0 + scale)) << "class " << o;
    for (const ExplainedTerm &t : row.terms) {
      if (t.output == int(o)) {
        num += t.activation * t.centre;
        den += t.activation;
      }
    }
    ASSERT_EQ(Bits(num / den), Bits(row.outputs[o])) << "class " << o;
  }
}

TEST(Explain, AddsUpOnEveryRowOfIrisAndOfARandomManyClassTable) {
  // The iris example, trained briefly.
  // The example's rows as the tool reads them.
  std::ifstream csv(std::string(KESTRANE_SOURCE_DIR) + "/examples/iris/iris.csv", std::ios::binary);
  LabelledRows read = ReadLabelledRows(csv, ',', ImportRequest{});
  const std::vector<std::vector<double>> rows = std::move(read.values);
  const std::vector<std::string> labels = std::move(read.labels);
  ASSERT_EQ(rows.size(), 150u);
  NetworkShape shape;
  shape.rules = 12;
  TrainSettings settings;
  settings.epochs = 60;
  Model iris = Fit(rows, labels, {"sl", "sw", "pl", "pw"}, shape, settings);
  for (size_t r = 0; r < rows.size(); ++r) {
    const ExplainedRow row = iris.Explain({rows[r]}, 12).front();
    ExpectAddsUp(iris.Fuzzy(), row, "iris row " + std::to_string(r + 1));
    EXPECT_EQ(row.predicted, iris.Predict({rows[r]}).predicted[0]);
  }

  // Nine classes, uneven term counts, removed arcs, inputs past both ends.
  const int mfIn[] = {2, 3, 5, 3, 4, 2};
  const int mfOut[] = {3, 2, 3, 4, 3, 3, 2, 3, 3};
  TVemo network(6, mfIn, 17, mfOut, 9);
  srand(11);
  network.InitWeights(-4, 4);
  std::mt19937 random(5);
  for (int cut = 0; cut < 40; ++cut) {
    network.priv_conns_index[TVemo::kRuleLayer][TVemo::kConditionLayer]->RemoveArc(
        int(random() % 19), int(random() % 17));
    network.priv_conns_index[TVemo::kActionLayer][TVemo::kRuleLayer]->RemoveArc(int(random() % 17),
                                                                                int(random() % 26));
  }
  std::uniform_real_distribution<double> value(-0.2, 1.2);
  for (int r = 0; r < 300; ++r) {
    std::vector<double> x(6);
    for (double &v : x)
      v = value(random);
    ExpectAddsUp(network, ExplainRow(network, x.data(), 17), "random row " + std::to_string(r));
  }
}

} // namespace
