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

struct ImportRanges {
  std::string classColumn;
  std::vector<FeatureRange> features;
  std::vector<std::string> classes; // output k is classes[k]
};

// Tabs and line ends in names become blanks: they would break the line format.
void WriteRanges(std::ostream &out, const ImportRanges &ranges);
// Raises ImportError ("ranges file, line N: ...") on a malformed file.
ImportRanges ReadRanges(std::istream &in);

} // namespace kestrane

#endif
