#ifndef KESTRANE_NEURALNETS_TABLERECALL_H
#define KESTRANE_NEURALNETS_TABLERECALL_H

// The forward pass over the rows of a table, one loop for the table recalls
// of every network class (TMLPNetwork, TVemo), so that they check and read
// tables alike.

#include "DataObject/Data.h"
#include "NeuralNets/TBasicNetwork.h"

#include <algorithm>
#include <vector>

namespace kestrane {

// The table a recall reads. Raises TException with `function` as the
// function name when there is no table ("Null data pointer"), when its rows
// present fewer inputs than the network has, or, withTargets, other than as
// many outputs as the network has.
Data &CheckRecallTable(const TBasicNetwork &network, Data *in, bool withTargets,
                       const char *function);

// Rewinds `in` and runs `rows` rows of it through the network from its first
// (past its data rows the cursor wraps round); each(input, target, output)
// then sees the row's buffers, target filled only withTargets. A table
// without data rows is not read at all.
template <class Each>
void RecallEachRow(TBasicNetwork &network, Data &in, int rows, bool withTargets, Each each) {
  in.Rewind();
  if (in.MbrNdxDataRows == 0)
    return;
  const int numOut = network.GetNumOutputs();
  // Whole rows: the table may hold more values than the network reads.
  std::vector<double> input(
      static_cast<size_t>(std::max({in.MbrNdxInputs, network.GetNumInputs(), 1})), 0.0);
  std::vector<double> target(
      withTargets ? static_cast<size_t>(std::max({in.MbrNdxOutputs, numOut, 1})) : 0, 0.0);
  std::vector<double> output(static_cast<size_t>(std::max(numOut, 1)), 0.0);
  for (int r = 0; r < rows; ++r) {
    in.GetNextRow(input.data(), withTargets ? target.data() : nullptr);
    network.Recall(input.data(), output.data());
    each(input.data(), target.data(), output.data());
  }
}

} // namespace kestrane

#endif
