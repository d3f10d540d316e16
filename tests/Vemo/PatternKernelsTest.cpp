// The pattern loop's four-lane kernels against the one-value code they
// replace, bit for bit, on the values where the cases meet: centres,
// coincident centres, the ends, infinities, NaN, signed zeros.

#include "Vemo/PatternKernels.h"
#include "NeuralNets/ActFunctions.h"
#include "Vemo/TConditionNeuron.h"
#include "Vemo/TVemoBP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace kestrane;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(PatternKernels, DegreesMatchTheConditionNeurons) {
  // Input 0: four terms, two of them on one centre; input 1: a lone term.
  const std::vector<double> centres = {0.2, 0.5, 0.5, 0.9, 0.4};
  const std::vector<int> inputOf = {0, 0, 0, 0, 1};
  std::vector<TConditionNeuron> nodes(centres.size());
  for (size_t j = 0; j < nodes.size(); ++j) {
    nodes[j].centre = centres[j];
    if (j > 0 && inputOf[j - 1] == inputOf[j]) {
      nodes[j].left = &nodes[j - 1];
      nodes[j - 1].right = &nodes[j];
    }
  }
  kernels::Triangles t;
  t.Size(static_cast<int>(nodes.size()));
  for (size_t j = 0; j < nodes.size(); ++j) {
    t.inputOf[j] = inputOf[j];
    t.centre[j] = nodes[j].centre;
    t.left[j] = nodes[j].left ? nodes[j].left->centre : nodes[j].centre;
    t.right[j] = nodes[j].right ? nodes[j].right->centre : nodes[j].centre;
    t.hasLeft[j] = nodes[j].left ? -1 : 0;
    t.hasRight[j] = nodes[j].right ? -1 : 0;
  }
  for (double x : {-kInf, -1.0, -0.0, 0.2, 0.35, 0.4, 0.5, 0.7, 0.9, 1.3, kInf, kNaN}) {
    const double in[2] = {x, x};
    std::vector<double> got(static_cast<size_t>(t.stride));
    kernels::Degrees(t, in, got.data());
    for (size_t j = 0; j < nodes.size(); ++j)
      EXPECT_TRUE(SameBits(got[j], ConditionDegree(nodes[j], x)))
          << "term " << j << " at " << x << ": " << got[j];
  }
}

TEST(PatternKernels, SigmoidsMatchTheOneNeuronSigmoid) {
  const std::vector<double> sums = {-0.0,  0.0,    0.3,  -500.0, -500.0000001, -745.0, 40.0,
                                    1e308, -1e308, kInf, -kInf,  kNaN,         -3.25};
  // Every length, so that the four-wide part and the rest both run.
  for (int n = 1; n <= static_cast<int>(sums.size()); ++n) {
    std::vector<double> a(sums.size(), 7.0);
    kernels::Sigmoids(sums.data(), a.data(), n);
    for (int k = 0; k < n; ++k)
      EXPECT_TRUE(SameBits(a[k], SigmoidOf(0.0 + sums[k]))) << "n " << n << ", sum " << sums[k];
    for (size_t k = static_cast<size_t>(n); k < a.size(); ++k)
      EXPECT_EQ(a[k], 7.0) << "written past n " << n;
  }
}

// Two outputs with 3 and 2 terms; action degrees and targets that hit the
// centres, the ends, zero sums and NaN.
TEST(PatternKernels, OutputLanesMatchTheOnePatternCode) {
  const int counts[] = {3, 2};
  const double centres[] = {0.0, 0.5, 1.0, 0.25, 0.75};
  const kernels::ActionGroups groups = {2, counts, centres};
  const double actions[][5] = {{0.2, 0.7, 0.1, 0.6, 0.3},
                               {0.0, 0.0, 0.0, 0.5, 0.5},
                               {kNaN, 0.3, 0.3, 1.0, 0.0},
                               {0.9, 0.05, 0.4, 0.0, 0.0},
                               {0.5, 0.5, 0.5, 0.2, 0.2}};
  const double targets[][2] = {{0.5, 0.25}, {1.0, 0.0}, {0.25, kNaN}, {0.0, 1.0}, {0.75, 0.5}};
  const double outs[][2] = {{0.4, 0.3}, {0.0, 0.75}, {0.5, 0.25}, {0.1, 0.6}, {1.0, 0.5}};
  for (int first = 0; first < 2; ++first)
    for (int n = 1; n <= 4; ++n) {
      const double *a[4] = {}, *y[4] = {}, *t[4] = {};
      std::vector<double> deltas(4 * 5, -1.0);
      double *d[4] = {};
      for (int p = 0; p < n; ++p) {
        a[p] = actions[first + p];
        y[p] = outs[first + p];
        t[p] = targets[first + p];
        d[p] = deltas.data() + 5 * p;
      }
      double cog[8], scratch[12];
      kernels::CentresOfGravity4(groups, n, a, cog);
      kernels::ActionErrors4(groups, n, y, t, a, d, scratch);
      for (int p = 0; p < n; ++p) {
        int k = 0;
        for (int o = 0; o < 2; ++o) {
          double num = 0.0, den = 0.0, mu[3];
          for (int l = 0; l < counts[o]; ++l) {
            num += a[p][k + l] * centres[k + l];
            den += a[p][k + l];
          }
          const bool none = !(num < 0.0 || num > 0.0) || !(den < 0.0 || den > 0.0);
          EXPECT_TRUE(SameBits(cog[4 * o + p], none ? 0.0 : num / den)) << p << " " << o;
          const double outputDelta = y[p][o] - t[p][o];
          TVemoBP::DesiredDegrees(y[p][o] - outputDelta, centres + k, counts[o], mu);
          for (int l = 0; l < counts[o]; ++l, ++k)
            EXPECT_TRUE(SameBits(d[p][k], a[p][k] - mu[l])) << p << " " << k;
        }
      }
      for (size_t i = 5 * static_cast<size_t>(n); i < deltas.size(); ++i)
        EXPECT_EQ(deltas[i], -1.0) << "a spare lane was written";
    }
}

// One pattern's outputs side by side: 1 to 4 outputs of 3 terms.
TEST(PatternKernels, OutputsAcrossMatchTheOnePatternCode) {
  const double centres[] = {0.0, 0.5, 1.0, 0.2, 0.4, 0.9, -1.0, 0.0, 2.0, 0.1, 0.6, 0.7};
  const double actions[] = {0.2, 0.7, 0.1, 0.0, 0.0, 0.0, kNaN, 0.3, 0.3, 0.9, 0.05, 0.4};
  const double outs[] = {0.4, 0.2, 0.0, 0.7};
  const double targets[] = {0.5, 1.0, kNaN, 0.6};
  for (int outputs = 1; outputs <= 4; ++outputs) {
    kernels::OutputLanes g;
    g.Set(outputs, 3, centres);
    double y[4], scratch[12], delta[12];
    kernels::CentresOfGravityAcross(g, actions, y);
    kernels::ActionErrorsAcross(g, outs, targets, actions, delta, scratch);
    for (int o = 0; o < outputs; ++o) {
      double num = 0.0, den = 0.0, mu[3];
      for (int l = 0; l < 3; ++l) {
        num += actions[3 * o + l] * centres[3 * o + l];
        den += actions[3 * o + l];
      }
      const bool none = !(num < 0.0 || num > 0.0) || !(den < 0.0 || den > 0.0);
      EXPECT_TRUE(SameBits(y[o], none ? 0.0 : num / den)) << outputs << " " << o;
      const double outputDelta = outs[o] - targets[o];
      TVemoBP::DesiredDegrees(outs[o] - outputDelta, centres + 3 * o, 3, mu);
      for (int l = 0; l < 3; ++l)
        EXPECT_TRUE(SameBits(delta[3 * o + l], actions[3 * o + l] - mu[l])) << outputs << " " << o;
    }
  }
}

} // namespace
