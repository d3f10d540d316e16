#ifndef KESTRANE_DATATOOLS_CSVIMPORT_FEATURESCALING_H
#define KESTRANE_DATATOOLS_CSVIMPORT_FEATURESCALING_H

// Scaling of feature values into [0, 1], the scale of the network's inputs.

#include <string>
#include <vector>

namespace kestrane {

struct FeatureRange {
  std::string name;
  double min = 0.0;
  double max = 0.0;
};

// (value - min) / (max - min); a constant feature (min == max) gives 0.5.
// A value outside [min, max] is clipped to 0 or 1 and sets `clipped`.
double ScaleFeature(const FeatureRange &range, double value, bool &clipped);

// Reads a feature value: a finite decimal number, blanks around it allowed.
// False for anything else (empty text included).
bool ParseFeatureValue(const std::string &text, double &value);

// The range of every column of `values` (rows of equal length, at least one row).
std::vector<FeatureRange> ComputeRanges(const std::vector<std::string> &names,
                                        const std::vector<std::vector<double>> &values);

// Scales every value in place by its column's range (ScaleFeature); returns
// how many values were clipped.
long ScaleRows(const std::vector<FeatureRange> &ranges, std::vector<std::vector<double>> &rows);

} // namespace kestrane

#endif
