#ifndef KESTRANE_BOOT_FINITECHECKS_H
#define KESTRANE_BOOT_FINITECHECKS_H

// Non-finite numbers in networks and tables: a NaN or an infinity spreads
// through training and recall and turns every result into NaN without a word.

#include <cstdint>
#include <string>

namespace kestrane {

class Data;
class TBasicNetwork;

// Weights of existing arcs, the membership-function centres included, that
// are NaN or infinite.
long CountNonFiniteWeights(TBasicNetwork &network);

// Raises TRunError ("Network NAME holds 3 weights or centres that are not
// finite numbers") for a network no run should start from.
void RequireFiniteWeights(TBasicNetwork &network, const std::string &name);

// "row R, input column C is inf" (1-based) for the table's first infinite
// input or non-finite output; empty when there is none. A NaN input is a
// missing value, which the condition layer gives degree 0 in every term.
std::string FirstNonFiniteValue(const Data &table);

} // namespace kestrane

#endif
