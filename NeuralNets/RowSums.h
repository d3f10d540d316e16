#ifndef KESTRANE_NEURALNETS_ROWSUMS_H
#define KESTRANE_NEURALNETS_ROWSUMS_H

// The forward pass of the matrices stored row by row, as plain loops over
// their weight and flag blocks. The sums keep the arc-by-arc order of the
// visitors, so they give the same bits. A skipped arc is left out, never
// multiplied by a zero weight (0 * inf is NaN); the neuron sums start at +0.0
// and so can never be -0.0.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrane {
namespace kernels {

// True when every byte of m[0 .. n-1] has all the given bits. Inline: the
// training sweeps ask it per row.
inline bool AllHave(const unsigned char *m, size_t n, unsigned char bits) {
  uint64_t want = 0;
  std::memset(&want, bits, sizeof want);
  size_t i = 0;
  uint64_t missing = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, m + i, sizeof word);
    missing |= ~word & want;
  }
  for (; i < n; ++i)
    missing |= static_cast<unsigned char>(~m[i] & bits);
  return missing == 0;
}

// The forward step of a t x f block stored row by row: for every row k,
// s = 0.0 + w[k][0]*a[0] + w[k][1]*a[1] + ... (in that order, skipping arcs
// whose exists bit is clear when mask is given), then net[k] = net[k] + s.
void AddRowSums(int t, int f, const double *w, const unsigned char *mask, const double *a,
                double *net);

} // namespace kernels
} // namespace kestrane

#endif
