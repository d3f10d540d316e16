#include "Vemo/VoteRules.h"

#include "Vemo/TVemo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace kestrane {

namespace {

// Keeps a Newton step finite on a region the reading already gets right.
constexpr double kRidge = 1.0;
constexpr double kLargestVote = 5.0;

double Rounded(double vote) { return std::round(vote / kVoteStep) * kVoteStep; }

bool Holds(const VoteCondition &c, const double *x) {
  return c.atLeast ? x[c.input] >= c.cut : x[c.input] < c.cut;
}

bool Covers(const VoteRule &rule, const double *x) {
  for (const VoteCondition &c : rule.conditions) {
    if (!Holds(c, x))
      return false;
  }
  return true;
}

// Votes in whole steps: the totals a reader adds up, free of rounding.
long long Steps(double vote) { return std::llround(vote / kVoteStep); }

// An input's scale: the value in units for a scaled value and back, the
// latter as the import scales (a span too wide for a double is halved).
struct Units {
  double min = 0, max = 1;
  double Value(double scaled) const { return min + scaled * (max - min); }
  double Scaled(double value) const {
    const double span = max - min;
    if (!std::isfinite(span))
      return (value / 2 - min / 2) / (max / 2 - min / 2);
    return (value - min) / span;
  }
};

double FourDigits(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return std::strtod(text, nullptr);
}

// The cuts of one input: between neighbouring centres at sixteenths, the
// midpoints first so that among equal splits the plainest is kept; each
// moved to the nearest value of four digits in the input's units.
std::vector<VoteCondition> Cuts(int input, std::vector<double> centres, const Units &units) {
  std::sort(centres.begin(), centres.end());
  std::vector<VoteCondition> cuts;
  static const int kSixteenths[] = {8, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11, 13, 15};
  if (!(units.max > units.min) || centres.size() < 2)
    return cuts;
  // Many functions get fewer cuts between each two, the plainest first.
  const size_t each = std::clamp<size_t>(240 / (centres.size() - 1), 1, 15);
  for (size_t t = 0; t + 1 < centres.size(); ++t) {
    for (size_t e = 0; e < each; ++e) {
      const int j = kSixteenths[e];
      const double value =
          FourDigits(units.Value(centres[t] + (centres[t + 1] - centres[t]) * j / 16.0));
      const double cut = units.Scaled(value);
      const bool known = std::any_of(cuts.begin(), cuts.end(),
                                     [&](const VoteCondition &c) { return c.cut == cut; });
      if (cut > 0.0 && cut < 1.0 && !known)
        cuts.push_back({input, true, cut, value});
    }
  }
  return cuts;
}

struct Table {
  int inputs = 0;
  int classes = 0;
  size_t n = 0;
  std::vector<double> x;                        // n x inputs, scaled
  std::vector<int> answer;                      // the network's class per row
  std::vector<int> expected;                    // the rows' own classes, when given
  std::vector<std::vector<VoteCondition>> cuts; // per input, in trial order
  std::vector<std::vector<int>> rankOf;         // per input: trial index -> rank in sorted order
  std::vector<std::vector<double>> sorted;      // per input: the cuts ascending
  std::vector<unsigned char> bucket;            // n x inputs: cuts at or below the value
};

// Softmax gradients of the reading's loss against the network's answers.
void Gradients(const Table &t, const std::vector<double> &score, std::vector<double> &g,
               std::vector<double> &h) {
  const int K = t.classes;
  std::vector<double> p(static_cast<size_t>(K));
  for (size_t i = 0; i < t.n; ++i) {
    const double *s = &score[i * K];
    const double top = *std::max_element(s, s + K);
    double sum = 0;
    for (int c = 0; c < K; ++c)
      sum += p[c] = std::exp(s[c] - top);
    for (int c = 0; c < K; ++c) {
      const double q = p[c] / sum;
      g[i * K + c] = (t.answer[i] == c ? 1.0 : 0.0) - q;
      h[i * K + c] = std::max(q * (1.0 - q), 1e-6);
    }
  }
}

struct Best {
  double gain = 0;
  int cls = -1;
  double G = 0, H = 0;
};

void Consider(const double *G, const double *H, int K, Best &best) {
  for (int c = 0; c < K; ++c) {
    if (G[c] <= 0)
      continue;
    const double gain = G[c] * G[c] / (H[c] + kRidge);
    if (gain > best.gain)
      best = {gain, c, G[c], H[c]};
  }
}

// Grows one rule from the whole table, condition by condition.
bool GrowRule(const Table &t, const std::vector<double> &g, const std::vector<double> &h,
              const VoteOptions &options, VoteRule &rule) {
  const int K = t.classes;
  const long minCover = std::max<long>(2, static_cast<long>(t.n / 200));
  std::vector<size_t> region(t.n);
  for (size_t i = 0; i < t.n; ++i)
    region[i] = i;
  Best current;
  std::vector<double> G(static_cast<size_t>(K)), H(static_cast<size_t>(K));
  for (size_t i : region) {
    for (int c = 0; c < K; ++c) {
      G[c] += g[i * K + c];
      H[c] += h[i * K + c];
    }
  }
  Consider(G.data(), H.data(), K, current);
  rule.conditions.clear();
  std::vector<double> hg, hh;
  for (int step = 0; step < options.maxConditions; ++step) {
    Best best = current;
    VoteCondition chosen;
    bool found = false;
    for (int in = 0; in < t.inputs; ++in) {
      const size_t buckets = t.sorted[in].size() + 1;
      hg.assign(buckets * K, 0.0);
      hh.assign(buckets * K, 0.0);
      for (size_t i : region) {
        const size_t b = t.bucket[i * t.inputs + in];
        for (int c = 0; c < K; ++c) {
          hg[b * K + c] += g[i * K + c];
          hh[b * K + c] += h[i * K + c];
        }
      }
      std::vector<long> count(buckets, 0);
      for (size_t i : region)
        ++count[t.bucket[i * t.inputs + in]];
      // below[j]: the sums over buckets 0 .. j, the rows under sorted cut j.
      std::vector<double> lowG(static_cast<size_t>(K), 0.0), lowH(static_cast<size_t>(K), 0.0);
      std::vector<std::vector<double>> belowG(buckets - 1), belowH(buckets - 1);
      std::vector<long> belowN(buckets - 1);
      long running = 0;
      for (size_t j = 0; j + 1 < buckets; ++j) {
        for (int c = 0; c < K; ++c) {
          lowG[c] += hg[j * K + c];
          lowH[c] += hh[j * K + c];
        }
        running += count[j];
        belowG[j] = lowG;
        belowH[j] = lowH;
        belowN[j] = running;
      }
      const long total = static_cast<long>(region.size());
      std::vector<double> highG(static_cast<size_t>(K)), highH(static_cast<size_t>(K));
      for (size_t trial = 0; trial < t.cuts[in].size(); ++trial) {
        const size_t j = static_cast<size_t>(t.rankOf[in][trial]);
        if (belowN[j] == 0 || belowN[j] == total)
          continue;
        for (int c = 0; c < K; ++c) {
          highG[c] = G[c] - belowG[j][c];
          highH[c] = H[c] - belowH[j][c];
        }
        for (const bool atLeast : {true, false}) {
          const long covered = atLeast ? total - belowN[j] : belowN[j];
          if (covered < minCover)
            continue;
          Best side;
          Consider(atLeast ? highG.data() : belowG[j].data(),
                   atLeast ? highH.data() : belowH[j].data(), K, side);
          if (side.cls >= 0 && side.gain > best.gain * (1.0 + 1e-9)) {
            best = side;
            chosen = t.cuts[in][trial];
            chosen.atLeast = atLeast;
            found = true;
          }
        }
      }
    }
    if (!found)
      break;
    rule.conditions.push_back(chosen);
    std::vector<size_t> kept;
    for (size_t i : region) {
      if (Holds(chosen, &t.x[i * t.inputs]))
        kept.push_back(i);
    }
    region.swap(kept);
    std::fill(G.begin(), G.end(), 0.0);
    std::fill(H.begin(), H.end(), 0.0);
    for (size_t i : region) {
      for (int c = 0; c < K; ++c) {
        G[c] += g[i * K + c];
        H[c] += h[i * K + c];
      }
    }
    current = best;
  }
  if (rule.conditions.empty() || current.cls < 0)
    return false;
  rule.votedClass = current.cls;
  rule.vote = std::clamp(Rounded(current.G / (current.H + kRidge)), kVoteStep, kLargestVote);
  return true;
}

// One lower and one upper bound per input at most, inputs in order: the
// same region always reads the same.
void Tidy(VoteRule &rule, int inputs) {
  std::vector<VoteCondition> tidy;
  for (int in = 0; in < inputs; ++in) {
    bool low = false, high = false;
    double lowCut = 0, highCut = 0;
    for (const VoteCondition &c : rule.conditions) {
      if (c.input != in)
        continue;
      if (c.atLeast && (!low || c.cut > lowCut)) {
        low = true;
        lowCut = c.cut;
      }
      if (!c.atLeast && (!high || c.cut < highCut)) {
        high = true;
        highCut = c.cut;
      }
    }
    for (const VoteCondition &c : rule.conditions) {
      if (c.input == in && c.atLeast && low && c.cut == lowCut) {
        tidy.push_back(c);
        low = false;
      }
    }
    for (const VoteCondition &c : rule.conditions) {
      if (c.input == in && !c.atLeast && high && c.cut == highCut) {
        tidy.push_back(c);
        high = false;
      }
    }
  }
  rule.conditions = tidy;
}

bool SameRegion(const VoteRule &a, const VoteRule &b) {
  if (a.votedClass != b.votedClass || a.conditions.size() != b.conditions.size())
    return false;
  for (size_t i = 0; i < a.conditions.size(); ++i) {
    const VoteCondition &x = a.conditions[i], &y = b.conditions[i];
    if (x.input != y.input || x.atLeast != y.atLeast || x.cut != y.cut)
      return false;
  }
  return true;
}

void AddVote(const Table &t, const VoteRule &rule, double sign, std::vector<double> &score) {
  for (size_t i = 0; i < t.n; ++i) {
    if (Covers(rule, &t.x[i * t.inputs]))
      score[i * t.classes + rule.votedClass] += sign * rule.vote;
  }
}

} // namespace

VoteReading FitVoteRules(TVemo &network, const ClassRows *rows, const VoteOptions &options) {
  int I = 0, C = 0, R = 0, A = 0, O = 0;
  std::vector<int> mfIn, mfOut;
  network.GetStructure(I, C, mfIn, R, A, mfOut, O);
  Table t;
  t.inputs = I;
  t.classes = O == 1 ? 2 : O;
  if (rows != nullptr && rows->inputs == I) {
    t.x = rows->values;
    t.n = rows->Rows();
    t.expected = rows->classes;
  } else {
    std::mt19937 random(options.seed);
    t.n = static_cast<size_t>(std::max(0, options.samples));
    t.x.resize(t.n * static_cast<size_t>(I));
    for (double &v : t.x)
      v = (static_cast<double>(random()) + 0.5) / 4294967296.0;
  }
  std::vector<double> out(static_cast<size_t>(std::max(O, 1)));
  for (size_t i = 0; i < t.n; ++i) {
    network.Recall(&t.x[i * I], out.data());
    t.answer.push_back(ClassOfOutputs(out.data(), O));
  }
  for (int in = 0, k = 0; in < I; ++in) {
    std::vector<double> centres;
    for (int m = 0; m < mfIn[in]; ++m, ++k) {
      double centre = 0;
      network.GetWeightValue(TVemo::kConditionCentres, in, k, centre);
      centres.push_back(centre);
    }
    Units units;
    if (in < static_cast<int>(options.inputMin.size()) &&
        in < static_cast<int>(options.inputMax.size())) {
      units = {options.inputMin[in], options.inputMax[in]};
    }
    t.cuts.push_back(Cuts(in, centres, units));
    std::vector<double> sorted;
    for (const VoteCondition &c : t.cuts.back())
      sorted.push_back(c.cut);
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> rank;
    for (const VoteCondition &c : t.cuts.back())
      rank.push_back(
          static_cast<int>(std::lower_bound(sorted.begin(), sorted.end(), c.cut) - sorted.begin()));
    t.sorted.push_back(sorted);
    t.rankOf.push_back(rank);
  }
  t.bucket.resize(t.n * static_cast<size_t>(I));
  for (size_t i = 0; i < t.n; ++i) {
    for (int in = 0; in < I; ++in) {
      const std::vector<double> &s = t.sorted[in];
      t.bucket[i * I + in] =
          static_cast<uint32_t>(std::upper_bound(s.begin(), s.end(), t.x[i * I + in]) - s.begin());
    }
  }

  VoteReading reading;
  reading.classes = t.classes;
  reading.sampled = rows == nullptr;
  reading.rows = static_cast<long>(t.n);
  const int K = t.classes;
  std::vector<long> seen(static_cast<size_t>(K), 0);
  for (int a : t.answer)
    ++seen[a];
  double top = -HUGE_VAL;
  for (int c = 0; c < K; ++c) {
    reading.start.push_back(
        std::log((static_cast<double>(seen[c]) + 1.0) / (static_cast<double>(t.n) + K)));
    top = std::max(top, reading.start.back());
  }
  for (double &s : reading.start)
    s = Rounded(s - top) + 0.0;

  std::vector<double> score(t.n * K), g(t.n * K), h(t.n * K);
  for (size_t i = 0; i < t.n; ++i)
    std::copy(reading.start.begin(), reading.start.end(), &score[i * K]);
  // A region found again adds its step to the rule already listed.
  for (int tries = 0; static_cast<int>(reading.rules.size()) < options.maxRules &&
                      tries < 3 * options.maxRules && t.n > 0;
       ++tries) {
    Gradients(t, score, g, h);
    VoteRule rule;
    if (!GrowRule(t, g, h, options, rule))
      break;
    Tidy(rule, I);
    AddVote(t, rule, 1.0, score);
    auto same = std::find_if(reading.rules.begin(), reading.rules.end(),
                             [&](const VoteRule &r) { return SameRegion(r, rule); });
    if (same != reading.rules.end())
      same->vote = std::min(same->vote + rule.vote, 2 * kLargestVote);
    else
      reading.rules.push_back(rule);
  }
  // A few passes that refit every vote to the others, as printed.
  for (int pass = 0; pass < 3; ++pass) {
    for (VoteRule &rule : reading.rules) {
      AddVote(t, rule, -1.0, score);
      Gradients(t, score, g, h);
      double G = 0, H = 0;
      for (size_t i = 0; i < t.n; ++i) {
        if (Covers(rule, &t.x[i * I])) {
          G += g[i * K + rule.votedClass];
          H += h[i * K + rule.votedClass];
        }
      }
      rule.vote = std::clamp(Rounded(G / (H + kRidge)), kVoteStep, 2 * kLargestVote);
      AddVote(t, rule, 1.0, score);
    }
  }

  // The votes tuned, one at a time, for the count of rows the reading gets
  // right (what the loss only stands in for), in whole steps.
  {
    std::vector<long long> total(t.n * K);
    for (size_t i = 0; i < t.n; ++i) {
      for (int c = 0; c < K; ++c)
        total[i * K + c] = Steps(reading.start[c]);
    }
    std::vector<std::vector<size_t>> covered(reading.rules.size());
    for (size_t r = 0; r < reading.rules.size(); ++r) {
      for (size_t i = 0; i < t.n; ++i) {
        if (Covers(reading.rules[r], &t.x[i * I])) {
          covered[r].push_back(i);
          total[i * K + reading.rules[r].votedClass] += Steps(reading.rules[r].vote);
        }
      }
    }
    const auto right = [&](size_t i) {
      const long long *s = &total[i * K];
      int best = 0;
      for (int c = 1; c < K; ++c) {
        if (s[c] > s[best])
          best = c;
      }
      return best == t.answer[i];
    };
    const long long largest = Steps(2 * kLargestVote);
    for (int pass = 0; pass < 2; ++pass) {
      // The start scores: the one move each row's answer can make from class c.
      for (int c = 0; c < K; ++c) {
        std::vector<long long> other(t.n); // the best total of the other classes
        std::vector<int> otherClass(t.n);
        for (size_t i = 0; i < t.n; ++i) {
          int best = c == 0 ? 1 : 0;
          for (int d = 0; d < K; ++d) {
            if (d != c && total[i * K + d] > total[i * K + best])
              best = d;
          }
          other[i] = total[i * K + best];
          otherClass[i] = best;
        }
        const long long now = Steps(reading.start[c]);
        long long bestSteps = now;
        long bestRight = -1;
        for (long long steps = now - 30; steps <= now + 30; ++steps) {
          long count = 0;
          for (size_t i = 0; i < t.n; ++i) {
            const long long mine = total[i * K + c] + steps - now;
            const bool wins = mine > other[i] || (mine == other[i] && c < otherClass[i]);
            count += (wins ? c : otherClass[i]) == t.answer[i] ? 1 : 0;
          }
          if (count > bestRight ||
              (count == bestRight && std::llabs(steps - now) < std::llabs(bestSteps - now))) {
            bestRight = count;
            bestSteps = steps;
          }
        }
        for (size_t i = 0; i < t.n; ++i)
          total[i * K + c] += bestSteps - now;
        reading.start[c] = static_cast<double>(bestSteps) * kVoteStep;
      }
      for (size_t r = 0; r < reading.rules.size(); ++r) {
        VoteRule &rule = reading.rules[r];
        const long long now = Steps(rule.vote);
        long long bestSteps = now;
        long bestRight = -1;
        for (long long steps = 1; steps <= largest; ++steps) {
          long count = 0;
          for (size_t i : covered[r]) {
            total[i * K + rule.votedClass] += steps - now;
            count += right(i) ? 1 : 0;
            total[i * K + rule.votedClass] -= steps - now;
          }
          if (count > bestRight ||
              (count == bestRight && std::llabs(steps - now) < std::llabs(bestSteps - now))) {
            bestRight = count;
            bestSteps = steps;
          }
        }
        for (size_t i : covered[r])
          total[i * K + rule.votedClass] += bestSteps - now;
        rule.vote = static_cast<double>(bestSteps) * kVoteStep;
      }
    }
  }

  // Rules the others make up for go, last found first.
  const auto agreement = [&] {
    long faithful = 0;
    for (size_t i = 0; i < t.n; ++i)
      faithful += ApplyVoteRules(reading, &t.x[i * I]) == t.answer[i] ? 1 : 0;
    return faithful;
  };
  long agreed = agreement();
  for (size_t r = reading.rules.size(); r-- > 0;) {
    const VoteRule kept = reading.rules[r];
    reading.rules.erase(reading.rules.begin() + static_cast<long>(r));
    const long without = agreement();
    if (without >= agreed)
      agreed = without;
    else
      reading.rules.insert(reading.rules.begin() + static_cast<long>(r), kept);
  }

  std::stable_sort(
      reading.rules.begin(), reading.rules.end(),
      [](const VoteRule &a, const VoteRule &b) { return a.votedClass < b.votedClass; });
  long faithful = 0, correct = 0;
  reading.withClasses = rows != nullptr && !t.expected.empty();
  for (size_t i = 0; i < t.n; ++i) {
    const int k = ApplyVoteRules(reading, &t.x[i * I]);
    faithful += k == t.answer[i] ? 1 : 0;
    if (reading.withClasses)
      correct += k == t.expected[i] ? 1 : 0;
  }
  for (VoteRule &rule : reading.rules) {
    for (size_t i = 0; i < t.n; ++i) {
      if (Covers(rule, &t.x[i * I])) {
        ++rule.covered;
        rule.agreeing += t.answer[i] == rule.votedClass ? 1 : 0;
      }
    }
  }
  if (t.n > 0) {
    reading.fidelity = 100.0 * static_cast<double>(faithful) / static_cast<double>(t.n);
    reading.accuracy = 100.0 * static_cast<double>(correct) / static_cast<double>(t.n);
  }
  return reading;
}

int ApplyVoteRules(const VoteReading &reading, const double *scaled) {
  std::vector<long long> total;
  for (double s : reading.start)
    total.push_back(Steps(s));
  for (const VoteRule &rule : reading.rules) {
    if (Covers(rule, scaled))
      total[static_cast<size_t>(rule.votedClass)] += Steps(rule.vote);
  }
  int best = 0;
  for (int c = 1; c < reading.classes; ++c) {
    if (total[static_cast<size_t>(c)] > total[static_cast<size_t>(best)])
      best = c;
  }
  return best;
}

} // namespace kestrane
