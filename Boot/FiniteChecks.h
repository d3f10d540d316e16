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

// "row R, input column C is nan" (1-based) for the table's first non-finite
// input or output; empty when every value is finite.
std::string FirstNonFiniteValue(const Data &table);

} // namespace kestrane

#endif
