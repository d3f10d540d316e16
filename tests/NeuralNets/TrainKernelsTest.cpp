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

// Every row count across the groups of 8, 4, 2 and 1 (and of four rows side by
// side where the rows are a multiple of 4 long), with removed arcs that
// hold NaN and infinite weights, which must not reach the sums.
TEST(TrainKernels, RowSumsMatchTheArcByArcSumsBitForBit) {
  srand(17);
  for (int t = 1; t <= 19; ++t)
    for (int f : {1, 4, 7, 12, 13}) {
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

// A fresh sweep with the step folded in: leaving out the error passed down
// and the stored gradients changes no weight or change, and neither the
// from-deltas nor the gradients are touched. Odd widths take the scalar tail
// of the wide loops; a removed arc keeps its NaN weight, which a full block
// steps like any other.
TEST(TrainKernels, SweepsThatSkipDeadStoresTakeTheSameSteps) {
  srand(5);
  for (int f : {1, 6, 11}) {
    const int t = 5;
    const size_t n = static_cast<size_t>(t * f);
    std::vector<double> w(n), d(n), dTo(static_cast<size_t>(t)), y(static_cast<size_t>(f));
    for (size_t i = 0; i < n; ++i) {
      w[i] = rand() / static_cast<double>(RAND_MAX) - 0.5;
      d[i] = rand() % 3 == 0 ? 0.0 : rand() / static_cast<double>(RAND_MAX) - 0.5;
    }
    for (double &x : dTo)
      x = rand() / static_cast<double>(RAND_MAX) - 0.5;
    for (double &x : y)
      x = rand() / static_cast<double>(RAND_MAX);
    std::vector<unsigned char> mask(n, FMaskAll);
    mask[n / 2] = 0;
    w[n / 2] = std::numeric_limits<double>::quiet_NaN();
    for (bool masked : {false, true}) {
      std::vector<double> w1(w), w2(w), d1(d), d2(d), g1(n, 7.0), g2(n, 7.0);
      std::vector<double> down1(static_cast<size_t>(f), 0.0), down2(down1);
      kernels::ArcBlock b;
      b.kind = kernels::ArcBlock::kRows;
      b.rows = t;
      b.cols = f;
      b.mask = masked ? mask.data() : nullptr;
      kernels::StepAfterBackprop step;
      step.on = true;
      step.rate = 0.3;
      step.momentum = 0.6;
      b.w = w1.data(), b.g = g1.data(), b.d = d1.data();
      kernels::Backprop(b, dTo.data(), down1.data(), y.data(), true, step);
      step.keepGradient = false;
      b.w = w2.data(), b.g = g2.data(), b.d = d2.data();
      kernels::Backprop(b, dTo.data(), nullptr, y.data(), true, step);
      EXPECT_EQ(0, std::memcmp(w1.data(), w2.data(), n * sizeof(double))) << f;
      EXPECT_EQ(0, std::memcmp(d1.data(), d2.data(), n * sizeof(double))) << f;
      EXPECT_EQ(std::vector<double>(n, 7.0), g2) << f;
      EXPECT_EQ(std::vector<double>(static_cast<size_t>(f), 0.0), down2) << f;
      EXPECT_TRUE(std::isnan(w1[n / 2]) && std::isnan(w2[n / 2]));
      EXPECT_NE(std::vector<double>(static_cast<size_t>(f), 0.0), down1) << f;
    }
  }
}

} // namespace
