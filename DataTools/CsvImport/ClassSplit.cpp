#include "DataTools/CsvImport/ClassSplit.h"

#include <algorithm>
#include <cmath>

namespace kestrane {

uint64_t SplitRandom::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t SplitRandom::Below(uint64_t bound) {
  const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
  uint64_t draw;
  do {
    draw = Next();
  } while (draw >= limit);
  return draw % bound;
}

int HoldOutCount(int n, double fraction) {
  if (n <= 1 || !(fraction > 0.0))
    return 0;
  const int count = static_cast<int>(std::floor(n * fraction + 0.5));
  return std::min(count, n - 1);
}

std::vector<ClassSplit> SplitClasses(const std::vector<std::vector<int>> &rowsOfClass,
                                     double fraction, uint64_t seed) {
  SplitRandom random(seed);
  std::vector<ClassSplit> splits;
  for (const std::vector<int> &rows : rowsOfClass) {
    const int n = static_cast<int>(rows.size());
    const int held = HoldOutCount(n, fraction);
    // Partial Fisher-Yates over positions: the first `held` are held out.
    std::vector<int> order(rows.size());
    for (int i = 0; i < n; ++i)
      order[i] = i;
    for (int i = 0; i < held; ++i) {
      const int j = i + static_cast<int>(random.Below(static_cast<uint64_t>(n - i)));
      std::swap(order[i], order[j]);
    }
    std::vector<bool> isTest(rows.size(), false);
    for (int i = 0; i < held; ++i)
      isTest[order[i]] = true;
    ClassSplit split;
    for (int i = 0; i < n; ++i)
      (isTest[i] ? split.test : split.training).push_back(rows[i]);
    splits.push_back(std::move(split));
  }
  return splits;
}

} // namespace kestrane
