#ifndef KESTRANE_DATATOOLS_CSVIMPORT_RANGESFILE_H
#define KESTRANE_DATATOOLS_CSVIMPORT_RANGESFILE_H

// The ranges file of an import: the class column, the scaling range of every
// feature column and the class names in output order. A later import of new
// data reads it to scale and encode that data the same way. Text, one item
// per line, the name last so that it may hold blanks:
//
//   kestrane-ranges 1
//   class<TAB>species
//   feature<TAB>4.3<TAB>7.9<TAB>sepal_length
//   output<TAB>setosa
//
// An input of a categorical column is a line "category<TAB>column<TAB>name"
// in place of a feature line, one per category in input order: the input is
// 1 when the column holds that name, else 0.
//
// Lines starting with "#" are comments.

#include "DataTools/CsvImport/FeatureScaling.h"
#include "DataTools/CsvImport/ImportError.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// What a ranges file may hold: the reader refuses more, so that an endless or
// hostile stream ends in a clear error instead of exhausting memory, and an
// import refuses to write more (CheckRangesWritable).
namespace ranges_limits {
// Features and classes together: as many as a data-set row holds numbers.
inline constexpr size_t kMaxColumns = 1000000;
inline constexpr size_t kMaxLine = 65536;                // bytes of a line, its end excluded
inline constexpr size_t kMaxName = kMaxLine - 64;        // room for a feature line's numbers
inline constexpr int64_t kMaxBytes = int64_t{256} << 20; // the whole file
} // namespace ranges_limits

struct ImportRanges {
  std::string classColumn;
  std::vector<FeatureRange> features;
  std::vector<std::string> classes; // output k is classes[k]
};

// Raises ImportError when ReadRanges would refuse what WriteRanges writes of
// `ranges`: more columns, longer names or more bytes than the limits, or two
// features or two classes of one name.
void CheckRangesWritable(const ImportRanges &ranges);
// Tabs and line ends in names become blanks: they would break the line
// format. Raises the errors of CheckRangesWritable before writing anything.
void WriteRanges(std::ostream &out, const ImportRanges &ranges);
// Raises ImportError ("ranges file, line N: ...") on a malformed file, on
// two features or two classes of one name, and past the limits.
ImportRanges ReadRanges(std::istream &in);

} // namespace kestrane

#endif
