#ifndef KESTRANE_TESTS_NEURALNETS_NETFIXTURES_H
#define KESTRANE_TESTS_NEURALNETS_NETFIXTURES_H

#include "NeuralNets/TBasicNetwork.h"

#include <initializer_list>
#include <vector>

namespace kestrane_test {

// Fills every layer of a fresh grid with a TSimpleLayer of the given size.
inline void FillLayers(kestrane::TBasicNetwork &net, std::initializer_list<int> sizes) {
  int i = 0;
  for (int n : sizes) {
    net.layers[i] = new kestrane::TSimpleLayer(&net, i, n);
    ++i;
  }
}

// Sets w(j -> k) = 10*j + k + 1 on every arc of a matrix with f from- and t to-neurons.
inline void NumberWeights(kestrane::TBasicConnections &m, int f, int t) {
  for (int j = 0; j < f; ++j)
    for (int k = 0; k < t; ++k)
      *m.GetWeightPtr(j, k) = 10.0 * j + k + 1;
}

inline std::vector<double> WeightsOf(kestrane::TBasicConnections &m, int mask) {
  std::vector<double> out(static_cast<size_t>(m.GetNumWeights(mask)));
  const int n = m.GetWeights(out.data(), mask);
  out.resize(static_cast<size_t>(n));
  return out;
}

inline std::vector<double> WeightsOf(kestrane::TBasicNetwork &net, int mask) {
  std::vector<double> out(static_cast<size_t>(net.GetNumWeights(mask)));
  const int n = net.GetWeights(out.data(), mask);
  out.resize(static_cast<size_t>(n));
  return out;
}

} // namespace kestrane_test

#endif
