#include "Vemo/RuleRows.h"

#include "Vemo/TVemo.h"

namespace kestrane {

int ClassOfOutputs(const double *outputs, int count) {
  if (count == 1)
    return outputs[0] >= 0.5 ? 1 : 0;
  int best = 0;
  for (int k = 1; k < count; ++k) {
    if (outputs[k] > outputs[best])
      best = k;
  }
  return best;
}

double ClassAccuracy(TVemo &network, const ClassRows &rows) {
  if (rows.Rows() == 0)
    return 0.0;
  const int O = network.GetNumOutputs();
  std::vector<double> output(static_cast<size_t>(O));
  size_t correct = 0;
  for (size_t r = 0; r < rows.Rows(); ++r) {
    network.Recall(rows.Row(r), output.data());
    if (ClassOfOutputs(output.data(), O) == rows.classes[r])
      ++correct;
  }
  return 100.0 * static_cast<double>(correct) / static_cast<double>(rows.Rows());
}

} // namespace kestrane
