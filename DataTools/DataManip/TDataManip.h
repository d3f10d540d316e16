#ifndef KESTRANE_DATATOOLS_DATAMANIP_TDATAMANIP_H
#define KESTRANE_DATATOOLS_DATAMANIP_TDATAMANIP_H

// TDataManip: stateless operations that build new tables from existing ones.
// Sources keep their contents (their cursors move); every result is a new
// table owned by the caller. Random choices draw through RandomDraw
// (KQmessage/RunRandom.h): the run's generator, else the C library's rand.

#include <cstdint>
#include <memory>
#include <vector>

#include "DataObject/Data.h"

namespace kestrane {

class TDataManip {
public:
  // Each result row holds the inputs of rows r, r-1, ..., r-N+1 (current first).
  static std::unique_ptr<Data> TimeStepLag(Data *source, int32_t window);
  // Each result row holds the inputs of rows r, r+1, ..., r+N-1 and the outputs of row r.
  static std::unique_ptr<Data> TimeStepAdvance(Data *source, int32_t window);

  // The chosen input columns (in the given order) and all outputs, no labels.
  static std::unique_ptr<Data> Extract(Data *source, int32_t inputCount,
                                       const int32_t *inputColumns);
  static std::unique_ptr<Data> Extract(Data *source, int32_t inputCount,
                                       const int32_t *inputColumns, int32_t outputCount,
                                       const int32_t *outputColumns);

  static std::unique_ptr<Data> GetFirstRows(int32_t count, Data *source);
  // Consecutive subsets of the given sizes, without labels; rows beyond the total are left out.
  static std::vector<std::unique_ptr<Data>> Divide(Data *source, int32_t count,
                                                   const int32_t *sizes);
  // Exactly n draws for n rows.
  static std::unique_ptr<Data> Shuffle(Data *source);
  static std::unique_ptr<Data> Concatenate(int32_t count, Data *const *tables);
  // Shuffles every class, takes counts[i] rows of class i, concatenates and
  // shuffles the result. The draws are the classes' shuffles in order, then the
  // final one.
  static std::unique_ptr<Data> Recombine(int32_t count, Data *const *tables, const int32_t *counts);
  // As Recombine, with the same draws, except that a class asked for more
  // rows than it has gives every row once, in its shuffled order, and the rest
  // drawn with replacement (one draw each) instead of failing. A class without
  // rows that is asked for some still raises "Insufficient rows".
  static std::unique_ptr<Data> RecombineWithReplacement(int32_t count, Data *const *tables,
                                                        const int32_t *counts);

private:
  static std::unique_ptr<Data> Draw(int32_t count, Data *const *tables, const int32_t *counts,
                                    bool withReplacement, const char *function);
};

} // namespace kestrane

#endif
