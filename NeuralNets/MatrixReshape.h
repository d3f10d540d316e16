#ifndef KESTRANE_NEURALNETS_MATRIXRESHAPE_H
#define KESTRANE_NEURALNETS_MATRIXRESHAPE_H

// Row-major blocks of a matrix gaining or losing one row or column.
// The new cells are value-initialised; callers fill them.

#include <cstddef>
#include <vector>

namespace kestrane {
namespace reshape {

template <class T>
std::vector<T> RemoveColumn(const std::vector<T> &block, int rows, int cols, int index) {
  std::vector<T> out(static_cast<size_t>(rows) * (cols - 1));
  for (int k = 0; k < rows; ++k)
    for (int j = 0; j < cols - 1; ++j)
      out[static_cast<size_t>(k) * (cols - 1) + j] =
          block[static_cast<size_t>(k) * cols + j + (j >= index ? 1 : 0)];
  return out;
}

template <class T>
std::vector<T> RemoveRow(const std::vector<T> &block, int rows, int cols, int index) {
  std::vector<T> out(static_cast<size_t>(rows - 1) * cols);
  for (int k = 0; k < rows - 1; ++k)
    for (int j = 0; j < cols; ++j)
      out[static_cast<size_t>(k) * cols + j] =
          block[static_cast<size_t>(k + (k >= index ? 1 : 0)) * cols + j];
  return out;
}

template <class T>
std::vector<T> InsertColumn(const std::vector<T> &block, int rows, int cols, int index) {
  std::vector<T> out(static_cast<size_t>(rows) * (cols + 1));
  for (int k = 0; k < rows; ++k)
    for (int j = 0; j < cols; ++j)
      out[static_cast<size_t>(k) * (cols + 1) + j + (j >= index ? 1 : 0)] =
          block[static_cast<size_t>(k) * cols + j];
  return out;
}

template <class T>
std::vector<T> InsertRow(const std::vector<T> &block, int rows, int cols, int index) {
  std::vector<T> out(static_cast<size_t>(rows + 1) * cols);
  for (int k = 0; k < rows; ++k)
    for (int j = 0; j < cols; ++j)
      out[static_cast<size_t>(k + (k >= index ? 1 : 0)) * cols + j] =
          block[static_cast<size_t>(k) * cols + j];
  return out;
}

// Points rows[k] at row k of a block with `cols` columns.
template <class T>
void PointRows(std::vector<T *> &rows, std::vector<T> &block, int cols) {
  for (size_t k = 0; k < rows.size(); ++k)
    rows[k] = block.data() + k * static_cast<size_t>(cols);
}

} // namespace reshape
} // namespace kestrane

#endif
