#ifndef KESTRANE_DATATOOLS_CSVIMPORT_CLASSSPLIT_H
#define KESTRANE_DATATOOLS_CSVIMPORT_CLASSSPLIT_H

// Holding out a fraction of every class as test rows, reproducibly from a seed.
//
// The choice uses its own generator (SplitMix64) rather than rand(), so that a
// seed picks the same rows with every C library and the shipped example can be
// made again exactly.

#include <cstdint>
#include <vector>

namespace kestrane {

class SplitRandom {
public:
  explicit SplitRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [0, bound), bound > 0 (rejection sampling: no modulo bias).
  uint64_t Below(uint64_t bound);

private:
  uint64_t state_;
};

struct ClassSplit {
  std::vector<int> training; // row indices, in their original order
  std::vector<int> test;
};

// Number of rows held out of a class of n rows: n * fraction rounded to the
// nearest, but at least one row always stays for training.
int HoldOutCount(int n, double fraction);

// For each class c, `rowsOfClass[c]` lists its row indices; the result splits
// every class in turn, all with one generator seeded by `seed`.
std::vector<ClassSplit> SplitClasses(const std::vector<std::vector<int>> &rowsOfClass,
                                     double fraction, uint64_t seed);

} // namespace kestrane

#endif
