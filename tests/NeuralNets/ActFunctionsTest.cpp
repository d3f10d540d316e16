#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TBasicNeuron.h"
#include "Vemo/TConditionNeuron.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

double Eval(ActFunction fn, double x, double gain = 1.0) {
  double slot = -99.0;
  TGainNeuron neuron;
  neuron.activation = &slot;
  neuron.gain = gain;
  fn(&neuron, x);
  return slot;
}

struct Example {
  const char *name;
  ActFunction fn;
  double x;
  double gain;
  double y;
};

TEST(ActFunctions, NumericExamples) {
  const Example table[] = {
      {"bias at 0", ActBias, 0.0, 1.0, 1.0},
      {"bias at -7", ActBias, -7.0, 1.0, 1.0},
      {"linear", ActLinear, -2.5, 1.0, -2.5},
      {"satlin -1", ActSaturatedLinear, -1.0, 1.0, 0.0},
      {"satlin 0", ActSaturatedLinear, 0.0, 1.0, 0.0},
      {"satlin 0.25", ActSaturatedLinear, 0.25, 1.0, 0.25},
      {"satlin 1", ActSaturatedLinear, 1.0, 1.0, 1.0},
      {"satlin 3", ActSaturatedLinear, 3.0, 1.0, 1.0},
      {"sigmoid 0", ActSigmoid, 0.0, 1.0, 0.5},
      {"sigmoid -500", ActSigmoid, -500.0, 1.0, 1.0 / (1.0 + std::exp(500.0))},
      {"sigmoid guard", ActSigmoid, -500.0001, 1.0, 1e-300},
      {"sigmoid far guard", ActSigmoid, -1e9, 1.0, 1e-300},
      {"tanh", ActTanh, 0.7, 1.0, std::tanh(0.7)},
      {"linear-gain default", ActLinearGain, -2.5, 1.0, -2.5},
      {"linear-gain 3", ActLinearGain, 2.0, 3.0, 6.0},
      {"sigmoid-gain", ActSigmoidGain, 1.5, 2.0, 1.0 / (1.0 + std::exp(-3.0))},
      {"sigmoid-gain no guard", ActSigmoidGain, -600.0, 1.0, 1.0 / (1.0 + std::exp(600.0))},
      {"tanh-gain", ActTanhGain, 0.25, 2.0, std::tanh(0.5)},
  };
  for (const Example &e : table)
    EXPECT_DOUBLE_EQ(Eval(e.fn, e.x, e.gain), e.y) << e.name;
  EXPECT_NEAR(Eval(ActSigmoid, -500.0), 7.1e-218, 0.1e-218);
}

// One input with centres 0, 0.5, 1: first, middle and last membership function.
struct ConditionTriple {
  double slot[3] = {};
  TConditionNeuron n[3];
  ConditionTriple() {
    const double centres[3] = {0.0, 0.5, 1.0};
    for (int i = 0; i < 3; ++i) {
      n[i].centre = centres[i];
      n[i].activation = &slot[i];
    }
    n[0].right = &n[1];
    n[1].left = &n[0];
    n[1].right = &n[2];
    n[2].left = &n[1];
  }
  double Degree(int i, double x) {
    ActVemoCondition(&n[i], x);
    return slot[i];
  }
};

TEST(ActFunctions, VemoConditionTriangles) {
  ConditionTriple t;
  const struct {
    int neuron;
    double x;
    double y;
  } table[] = {
      {1, 0.5, 1.0},
      {1, 0.25, 0.5},
      {1, 0.75, 0.5},
      {1, 0.0, 0.0},
      {1, 1.0, 0.0},
      {1, -2.0, 0.0},
      {1, 4.0, 0.0},
      // Shoulders stay at 1 beyond the outer centres.
      {0, -3.0, 1.0},
      {0, 0.0, 1.0},
      {0, 0.25, 0.5},
      {0, 0.5, 0.0},
      {0, 0.9, 0.0},
      {2, 7.0, 1.0},
      {2, 1.0, 1.0},
      {2, 0.75, 0.5},
      {2, 0.5, 0.0},
      {2, -1.0, 0.0},
  };
  for (const auto &row : table)
    EXPECT_DOUBLE_EQ(t.Degree(row.neuron, row.x), row.y)
        << "neuron " << row.neuron << " x " << row.x;
}

TEST(ActFunctions, VemoConditionCoincidentCentresDoNotDivideByZero) {
  ConditionTriple t;
  t.n[1].centre = 1.0; // same as its right neighbour
  EXPECT_EQ(t.Degree(1, 1.0), 1.0);
  EXPECT_EQ(t.Degree(1, 2.0), 0.0);
  EXPECT_FALSE(std::isnan(t.Degree(1, 0.75)));
}

// The sigmoid's exp may skip the C library's errno wrapper; its values must
// keep every bit of std::exp, special values and the sigmoid's range included.
TEST(ActFunctions, ExpOfGivesTheBitsOfStdExp) {
  std::vector<double> xs = {0.0,    -0.0,   1e-320, -1e-320, 1.0,      -1.0,      500.0, -500.0,
                            709.78, 709.79, -745.1, -745.2,  HUGE_VAL, -HUGE_VAL, NAN};
  srand(3);
  for (int i = 0; i < 100000; ++i)
    xs.push_back((rand() / static_cast<double>(RAND_MAX) - 0.5) * 1100.0);
  for (double x : xs) {
    const double want = std::exp(x), got = kestrane::ExpOf(x);
    EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0) << x;
  }
}

TEST(ActFunctionsDeathTest, MarkersAreNeverEvaluated) {
  EXPECT_DEATH(Eval(ActError, 0.0), "Assertion failed: false");
  EXPECT_DEATH(Eval(ActNull, 0.0), "Assertion failed: false");
  EXPECT_DEATH(Eval(ActCog, 0.0), "Assertion failed: false");
}

TEST(TFnRegistry, BuiltinsInTableOrder) {
  TFnRegistry reg;
  EXPECT_EQ(reg.GetUsed(), 0);
  EXPECT_EQ(reg.GetAllocated(), 16);
  reg.RegisterBuiltins();
  const struct {
    const char *name;
    ActFunction fn;
  } expected[] = {
      {"error", ActError},
      {"null", ActNull},
      {"bias", ActBias},
      {"linear", ActLinear},
      {"saturated-linear", ActSaturatedLinear},
      {"sigmoid", ActSigmoid},
      {"tanh", ActTanh},
      {"linear-gain", ActLinearGain},
      {"sigmoid-gain", ActSigmoidGain},
      {"tanh-gain", ActTanhGain},
      {"cog", ActCog},
      {"Vemo-condition", ActVemoCondition},
  };
  ASSERT_EQ(reg.GetUsed(), 12);
  EXPECT_EQ(reg.GetAllocated(), 16);
  for (int i = 0; i < 12; ++i) {
    EXPECT_STREQ(reg.GetEntryName(i), expected[i].name);
    EXPECT_EQ(reg.GetEntryFunction(i), expected[i].fn);
    EXPECT_EQ(reg.GetFunction(expected[i].name), expected[i].fn);
    EXPECT_STREQ(reg.GetName(expected[i].fn), expected[i].name);
  }
}

TEST(TFnRegistry, LooksUpNamesCaseInsensitively) {
  TFnRegistry reg;
  reg.RegisterBuiltins();
  EXPECT_EQ(reg.GetFunction("TANH"), ActTanh);
  EXPECT_EQ(reg.GetFunction("SIGMOID"), ActSigmoid);
  EXPECT_EQ(reg.GetFunction("Sigmoid"), ActSigmoid);
  EXPECT_EQ(reg.GetFunction("vemo-CONDITION"), ActVemoCondition);
  EXPECT_STREQ(reg.GetName(ActTanhGain), "tanh-gain");
}

void Dummy(TBasicNeuron *, double) {}

TEST(TFnRegistry, UnknownNamesAndFunctions) {
  TFnRegistry reg;
  reg.RegisterBuiltins();
  EXPECT_EQ(reg.GetFunction("softmax"), ActError);
  EXPECT_EQ(reg.GetFunction(""), ActError);
  EXPECT_EQ(reg.GetName(Dummy), nullptr);
}

TEST(TFnRegistry, GrowsByDoublingAndKeepsOrderAndNames) {
  TFnRegistry reg;
  reg.RegisterBuiltins();
  const char *sigmoidName = reg.GetName(ActSigmoid);
  for (int i = 0; i < 4; ++i)
    reg.AddFunction(Dummy, ("extra" + std::to_string(i)).c_str());
  EXPECT_EQ(reg.GetUsed(), 16);
  EXPECT_EQ(reg.GetAllocated(), 16);
  reg.AddFunction(Dummy, "seventeenth");
  EXPECT_EQ(reg.GetUsed(), 17);
  EXPECT_EQ(reg.GetAllocated(), 32);
  EXPECT_STREQ(reg.GetEntryName(0), "error");
  EXPECT_STREQ(reg.GetEntryName(11), "Vemo-condition");
  EXPECT_STREQ(reg.GetEntryName(16), "seventeenth");
  // Names handed out before the growth stay valid.
  EXPECT_EQ(reg.GetName(ActSigmoid), sigmoidName);
  EXPECT_STREQ(sigmoidName, "sigmoid");
  // The latest registration of a function wins.
  EXPECT_STREQ(reg.GetName(Dummy), "seventeenth");
  EXPECT_EQ(reg.GetFunction("EXTRA2"), Dummy);
}

TEST(TFnRegistryDeathTest, DuplicateNameIsAProgrammingError) {
  TFnRegistry reg;
  reg.RegisterBuiltins();
  EXPECT_DEATH(reg.AddFunction(Dummy, "Linear"), "Assertion failed: strcasecmp\\(p,pp->name\\)!=0");
}

} // namespace
