#include "NeuralNets/TErrorObj.h"

#include "KQmessage/KQML.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace kestrane;

namespace {

std::unique_ptr<TKQstructure> Penalty(const char *head) {
  return std::make_unique<TKQstructure>(head);
}

} // namespace

TEST(TErrorRMSObj, RootOfMeanOverOutputsAndPatterns) {
  TErrorRMSObj rms(2);
  const double targets[] = {1, 0};
  const double outputs[] = {0.5, 0.5};
  rms.Accumulate(targets, outputs);
  EXPECT_EQ(rms.numPatterns, 1);
  EXPECT_EQ(rms.Value(), 0.5);
  const double exact[] = {1, 0};
  rms.Accumulate(targets, exact);
  EXPECT_EQ(rms.Value(), std::sqrt(0.5 / 2 / 2));
  rms.Reset();
  EXPECT_EQ(rms.numPatterns, 0);
  EXPECT_EQ(rms.sum, 0.0);
}

TEST(TErrorRMSObj, NoPatternGivesZeroInsteadOfDividingByZero) {
  TErrorRMSObj rms(3);
  EXPECT_EQ(rms.Value(), 0.0);
  const double w[] = {2.0};
  auto quad = Penalty("QUADPENALTY");
  quad->SetNumber("EPSILON2", 1.0);
  rms.AddPenalty(1, w, quad.get());
  EXPECT_EQ(rms.Value(), 0.0);
}

TEST(TErrorCrossEntropyObj, LogLossSummedNotAveraged) {
  TErrorCrossEntropyObj ce(1);
  const double t1[] = {1.0};
  const double half[] = {0.5};
  ce.Accumulate(t1, half);
  EXPECT_DOUBLE_EQ(ce.Value(), std::log(2.0));
  ce.Accumulate(t1, half);
  EXPECT_DOUBLE_EQ(ce.Value(), 2 * std::log(2.0));
}

TEST(TErrorCrossEntropyObj, SaturatedOutputsCostAMillionUnlessExact) {
  struct Case {
    double target, output, added;
  } cases[] = {
      {0.0, 1.0, 1e6},
      {1.0, 1.0, 0.0},
      {0.5, 1.0, 1e6},
      // An output of exactly 0 takes no logarithm of 0 either.
      {1.0, 0.0, 1e6},
      {0.0, 0.0, 0.0},
      {0.5, 0.0, 1e6},
  };
  for (const Case &c : cases) {
    TErrorCrossEntropyObj ce(1);
    ce.Accumulate(&c.target, &c.output);
    EXPECT_EQ(ce.Value(), c.added) << c.target << " " << c.output;
    EXPECT_TRUE(std::isfinite(ce.Value()));
  }
}

TEST(TErrorObj, PenaltyTerms) {
  const double w[] = {1.0, -2.0};
  TErrorRMSObj rms(1);
  EXPECT_EQ(rms.PenaltyTerm(2, w, nullptr, 1.0), 0.0);
  EXPECT_EQ(rms.PenaltyTerm(2, w, Penalty("none").get(), 1.0), 0.0);

  auto decay = Penalty("QUADPENALTY");
  decay->SetNumber("EPSILON2", 0.1);
  EXPECT_DOUBLE_EQ(rms.PenaltyTerm(2, w, decay.get(), 1.0), 0.5);
  EXPECT_DOUBLE_EQ(rms.PenaltyTerm(2, w, decay.get(), 2.0), 1.0);

  // Weight elimination: e1 * b w^2 / (b w^2 + 1), BETA defaulting to 1.
  auto elimination = Penalty("quadpenalty");
  elimination->SetNumber("EPSILON1", 1.0);
  EXPECT_DOUBLE_EQ(rms.PenaltyTerm(2, w, elimination.get(), 1.0), 0.5 + 0.8);
  elimination->SetNumber("BETA", 2.0);
  EXPECT_DOUBLE_EQ(rms.PenaltyTerm(2, w, elimination.get(), 1.0), 2.0 / 3 + 8.0 / 9);

  auto lwf = Penalty("LWF");
  lwf->SetNumber("LEARNINGRATE", 0.5);
  lwf->SetNumber("FORGETTINGRATE", 0.1);
  EXPECT_DOUBLE_EQ(rms.PenaltyTerm(2, w, lwf.get(), 1.0), 0.15);
  EXPECT_DOUBLE_EQ(rms.PenaltyTerm(2, w, lwf.get(), 7.0), 0.15); // scale unused
}

TEST(TErrorObj, AddPenaltyRaisesTheValue) {
  const double w[] = {1.0, -2.0};
  auto lwf = Penalty("LWF");
  lwf->SetNumber("LEARNINGRATE", 0.5);
  lwf->SetNumber("FORGETTINGRATE", 0.1);
  TErrorCrossEntropyObj ce(1);
  const double t[] = {1.0};
  const double o[] = {0.5};
  ce.Accumulate(t, o);
  ce.AddPenalty(2, w, lwf.get());
  EXPECT_DOUBLE_EQ(ce.Value(), std::log(2.0) + 0.15);

  // Through the base, as the train module owns it.
  std::unique_ptr<TErrorObj> rms = std::make_unique<TErrorRMSObj>(1);
  const double out[] = {0.0};
  rms->Accumulate(t, out);
  rms->AddPenalty(2, w, lwf.get());
  EXPECT_DOUBLE_EQ(rms->Value(), std::sqrt(1.15));
}

TEST(TErrorObj, NonNumericPenaltyConstantIsAKQMLError) {
  const double w[] = {1.0};
  auto bad = Penalty("QUADPENALTY");
  bad->SetWord("EPSILON2", "lots");
  TErrorRMSObj rms(1);
  EXPECT_THROW(rms.PenaltyTerm(1, w, bad.get(), 1.0), TKQstructure::Error);
}

TEST(TErrorObjDeath, UnknownPenaltyKindIsAnInternalError) {
  const double w[] = {1.0};
  TErrorRMSObj rms(1);
  EXPECT_DEATH(rms.PenaltyTerm(1, w, Penalty("L2").get(), 1.0), "Assertion failed: false");
}
