#include "NeuralNets/TrainKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace kestrane;

// The forward step of a row block, one arc after the other.
void ReferenceRowSums(int t, int f, const double *w, const unsigned char *mask, const double *a,
                      double *net) {
  for (int k = 0; k < t; ++k) {
    double s = 0.0;
    for (int j = 0; j < f; ++j)
      if (mask == nullptr || (mask[k * f + j] & FMaskExists))
        s = s + w[k * f + j] * a[j];
    net[k] = net[k] + s;
  }
}

// Every row count across the groups of 8, 4, 2 and 1, with removed arcs that
// hold NaN and infinite weights, which must not reach the sums.
TEST(TrainKernels, RowSumsMatchTheArcByArcSumsBitForBit) {
  srand(17);
  for (int t = 1; t <= 19; ++t)
    for (int f : {1, 7, 13}) {
      std::vector<double> w(static_cast<size_t>(t * f)), a(static_cast<size_t>(f));
      std::vector<unsigned char> mask(w.size(), FMaskAll);
      for (double &x : a)
        x = rand() / static_cast<double>(RAND_MAX);
      for (size_t i = 0; i < w.size(); ++i) {
        w[i] = rand() / static_cast<double>(RAND_MAX) * 2 - 1;
        if (rand() % 5 == 0) {
          mask[i] = static_cast<unsigned char>(rand() % 2 == 0 ? 0 : FMaskTrainable);
          w[i] = rand() % 2 ? std::numeric_limits<double>::quiet_NaN()
                            : std::numeric_limits<double>::infinity();
        }
      }
      // The masked block first: it still holds the NaN and infinite weights.
      for (const unsigned char *m : {static_cast<const unsigned char *>(mask.data()),
                                     static_cast<const unsigned char *>(nullptr)}) {
        if (m == nullptr)
          for (size_t i = 0; i < w.size(); ++i)
            if (mask[i] != FMaskAll)
              w[i] = 0.25;
        std::vector<double> got(static_cast<size_t>(t), 0.5), want(got);
        kernels::AddRowSums(t, f, w.data(), m, a.data(), got.data());
        ReferenceRowSums(t, f, w.data(), m, a.data(), want.data());
        EXPECT_EQ(0, std::memcmp(got.data(), want.data(), got.size() * sizeof(double)))
            << t << " x " << f;
      }
    }
}

TEST(TrainKernels, AllHaveLooksAtEveryByte) {
  std::vector<unsigned char> m(21, FMaskAll);
  EXPECT_TRUE(kernels::AllHave(m.data(), m.size(), FMaskAll));
  for (size_t i = 0; i < m.size(); ++i) {
    m[i] = FMaskExists;
    EXPECT_FALSE(kernels::AllHave(m.data(), m.size(), FMaskAll)) << i;
    EXPECT_TRUE(kernels::AllHave(m.data(), m.size(), FMaskExists)) << i;
    m[i] = FMaskAll;
  }
  EXPECT_TRUE(kernels::AllHave(m.data(), 0, FMaskAll));
}

} // namespace
