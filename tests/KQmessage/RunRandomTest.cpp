#include "KQmessage/RunRandom.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using kestrane::RandomDraw;
using kestrane::RunRandomScope;

std::vector<int> RandSequence(unsigned seed, int n) {
  std::srand(seed);
  std::vector<int> values(static_cast<size_t>(n));
  for (int &v : values)
    v = std::rand();
  return values;
}

std::vector<int> RunSequence(unsigned seed, int n) {
  const RunRandomScope random(seed);
  std::vector<int> values(static_cast<size_t>(n));
  for (int &v : values)
    v = RandomDraw();
  return values;
}

// Seeded runs keep their bits only if the run's generator is rand, draw for draw.
TEST(RunRandom, GivesRandsSequenceForEverySeed) {
  for (unsigned seed : {0u, 1u, 2u, 42u, 4294967295u}) {
    EXPECT_EQ(RunSequence(seed, 100000), RandSequence(seed, 100000)) << "seed " << seed;
  }
}

TEST(RunRandom, ThreadsDrawTheirOwnAndNoneInstalledDrawsRand) {
  const int n = 20000;
  const std::vector<int> expected3 = RandSequence(3, n);
  const std::vector<int> expected4 = RandSequence(4, n);
  std::vector<int> got3, got4;
  std::thread a([&] { got3 = RunSequence(3, n); });
  std::thread b([&] { got4 = RunSequence(4, n); });
  a.join();
  b.join();
  EXPECT_EQ(got3, expected3);
  EXPECT_EQ(got4, expected4);

  // Without a run generator, and around one, the draws are rand's and the
  // run's draws leave rand's state where it was.
  const std::vector<int> expected = RandSequence(9, 3);
  std::srand(9);
  EXPECT_EQ(RandomDraw(), expected[0]);
  {
    const RunRandomScope outer(3);
    {
      const RunRandomScope inner(4);
      EXPECT_EQ(RandomDraw(), expected4[0]);
    }
    EXPECT_EQ(RandomDraw(), expected3[0]);
  }
  EXPECT_EQ(RandomDraw(), expected[1]);
  EXPECT_EQ(std::rand(), expected[2]);
}

} // namespace
