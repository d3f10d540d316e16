#include "Boot/TVemoBPBootStrap.h"

#include "Boot/RunProgress.h"
#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "Vemo/TVemo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kestrane;

std::unique_ptr<TVemo> SmallNet() {
  const int in[] = {3, 3};
  const int out[] = {3};
  auto net = std::make_unique<TVemo>(2, in, 4, out, 1);
  srand(11);
  net->InitWeights(-1, 1);
  return net;
}

// Class c: rows (x, y) near a corner, target c.
std::unique_ptr<Data> ClassTable(double target, int rows) {
  auto table = std::make_unique<Data>(rows, 2, 1, false);
  for (int r = 0; r < rows; ++r) {
    const double in[] = {target * 0.8 + 0.05 * r, 0.5 + 0.03 * r};
    table->AppendRow(in, &target);
  }
  return table;
}

struct Fixture {
  std::unique_ptr<TVemo> net = SmallNet();
  std::unique_ptr<Data> a = ClassTable(0.0, 5), b = ClassTable(1.0, 5);
  std::vector<Data *> tables{a.get(), b.get()};
  std::vector<int32_t> examples{3, 3};
  std::vector<TVemoBPBootStrap::Progress> seen;

  double Run(TVemoBPBootStrap &boot, int total, int perRound, float rate = 0.5f) {
    boot.SetProgress([this](const TVemoBPBootStrap::Progress &p) { seen.push_back(p); });
    return boot.Run(2, tables.data(), examples.data(), total, perRound, rate, 0.5f, 0.0, false);
  }
};

TEST(BootStrap, RoundsAreNeverCutShort) {
  Fixture f;
  TVemoBPBootStrap boot(f.net.get());
  const double error = f.Run(boot, 10, 3);
  EXPECT_EQ(boot.GetRounds(), 4);
  ASSERT_EQ(f.seen.size(), 12u);
  EXPECT_EQ(f.seen.back().epochsSpent, 12);
  EXPECT_EQ(f.seen.back().rounds, 4);
  EXPECT_EQ(f.seen[3].rounds, 2);
  EXPECT_EQ(f.seen[3].epochsSpent, 4);
  EXPECT_EQ(f.seen.back().error, error); // the last epoch's, not the best
}

TEST(BootStrap, TotalEqualToARoundRunsOneRound) {
  Fixture f;
  TVemoBPBootStrap boot(f.net.get());
  f.Run(boot, 4, 4);
  EXPECT_EQ(boot.GetRounds(), 1);
  EXPECT_EQ(f.seen.size(), 4u);
}

// Rates travel as six-decimal text: 4e-7 arrives as 0 and trains nothing.
TEST(BootStrap, RatesBelowSixDecimalsTrainNothing) {
  Fixture f;
  const std::vector<double> before = f.net->GetWeightLayer(3);
  TVemoBPBootStrap boot(f.net.get());
  f.Run(boot, 3, 3, 4e-7f);
  EXPECT_EQ(f.net->GetWeightLayer(3), before);
}

void ExpectThrows(Fixture &f, int classes, const char *message, const char *function) {
  TVemoBPBootStrap boot(f.net.get());
  try {
    boot.Run(classes, f.tables.data(), f.examples.data(), 5, 5, 0.5f, 0.5f, 0.0, true);
    ADD_FAILURE() << message;
  } catch (const TException &e) {
    EXPECT_EQ(e.GetMessage(), message);
    EXPECT_EQ(e.GetCategory(), "Bad Parameter");
    EXPECT_EQ(e.GetFunctionName(), function);
  }
}

TEST(BootStrap, BadDrawsRaise) {
  Fixture f;
  ExpectThrows(f, 1, "Insufficient number of classes", "TDataManip::Recombine");
  f.examples = {0, 0};
  ExpectThrows(f, 2, "Empty training set: every class gives 0 examples", "TVemoBPBootStrap::Run");
  f.examples = {2, 6};
  ExpectThrows(f, 2, "Insufficient rows", "TDataManip::GetFirstRows");
}

TEST(RunProgress, StatusLineText) {
  EXPECT_EQ(TRunProgress::Format({120, 1000, 12, 0.0123456789}, 3725.4),
            "Epoch 120/1000  round 12  error 0.0123457  1:02:05");
}

} // namespace
