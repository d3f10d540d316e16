#ifndef KESTRANE_NEURALNETS_COLUMNKERNELS_H
#define KESTRANE_NEURALNETS_COLUMNKERNELS_H

// A fully connected block whose arcs all train, held column by column for the
// length of an epoch: wT[j * stride + k] is the arc from neuron j to neuron
// k, stride >= rows (a multiple of 4; the spare rows hold +0.0). Row sums
// then add one column at a time across all rows, in the column order of the
// row-stored sums, so every sum keeps its order while four rows share each
// instruction; the step of an arc is the same operations as the row-stored
// step. A pattern's step also adds the next pattern's row sums, with the
// weights it has just written, so the block is read once per pattern.

namespace kestrane {
namespace kernels {

// Rounds a row count up to the stride of a column.
inline int ColumnStride(int rows) { return (rows + 3) / 4 * 4; }

// s[k] = s[k] + wT[j][k] * a[j] for j = 0 .. cols-1, every k < stride.
void AddColumnSums(int stride, int cols, const double *wT, const double *a, double *s);

// The same for four patterns at once (one pass over the weights):
// s[p][k] = s[p][k] + wT[j][k] * a[p][j]; with fromZero the sums start at
// +0.0 whatever s holds.
void AddColumnSums4(int stride, int cols, const double *wT, const double *const a[4],
                    double *const s[4], bool fromZero);

// The batch gradients of n <= 4 patterns added to a block whose gradients
// are held by columns: g = g + delta[p][k] * y[p][j], patterns in order.
// delta[p] spans the stride (spare rows +0.0).
void AddColumnGradients(int stride, int cols, double *gT, int n, const double *const delta[4],
                        const double *const y[4]);

// The on-line step of every arc after the backward pass of one pattern
// (delta: the to-layer's deltas, y: the from-layer's activations):
// g = 0.0 + delta[k] * y[j]; then w -= rate * g, or with momentum
// d = -rate * g + momentum * d, w += d. With aNext, the next pattern's row
// sums are added as AddColumnSums would with the new weights.
void ColumnStep(int stride, int cols, double *wT, double *dT, const double *delta, const double *y,
                double rate, double momentum, const double *aNext, double *sNext);

// The on-line backward pass and step of a fully connected block stored row
// by row (rows x cols, every arc selected), as the train kernels' fresh sweep
// without a stored gradient: per arc, from row 0 on,
// dFrom[j] = dFrom[j] + w * delta[k]; g = 0.0 + delta[k] * y[j]; then the
// step of ColumnStep.
void RowStep(int rows, int cols, double *w, double *d, const double *delta, double *dFrom,
             const double *y, double rate, double momentum);

// The error of four patterns passed down a fully connected block stored row
// by row: dFrom[p][j] = dFrom[p][j] + w[k][j] * delta[p][k], rows in order;
// with fromZero dFrom starts at +0.0.
void PassDown4(int rows, int cols, const double *w, const double *const delta[4],
               double *const dFrom[4], bool fromZero);

} // namespace kernels
} // namespace kestrane

#endif
