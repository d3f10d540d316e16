#ifndef KESTRANE_VEMO_RULEROWS_H
#define KESTRANE_VEMO_RULEROWS_H

// Labelled rows on the network's input scale, and the class answers of a
// network on them: what the rule measures and the simplifier judge by.

#include <cstddef>
#include <vector>

namespace kestrane {

class TVemo;

struct ClassRows {
  int inputs = 0;
  std::vector<double> values; // row-major, `inputs` per row, scaled into [0, 1]
  std::vector<int> classes;   // expected class of each row (output number)

  size_t Rows() const { return classes.size(); }
  const double *Row(size_t r) const { return &values[r * static_cast<size_t>(inputs)]; }
};

// The class a network's outputs answer: the largest of two or more outputs
// (the first on ties); a single output is read at 0.5 as class 1 or 0.
int ClassOfOutputs(const double *outputs, int count);

// Percent of rows whose answer is their expected class; 0 without rows.
double ClassAccuracy(TVemo &network, const ClassRows &rows);

} // namespace kestrane

#endif
