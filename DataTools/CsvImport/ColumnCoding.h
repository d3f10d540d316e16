#ifndef KESTRANE_DATATOOLS_CSVIMPORT_COLUMNCODING_H
#define KESTRANE_DATATOOLS_CSVIMPORT_COLUMNCODING_H

// From CSV columns to network inputs. A column of numbers is one input; a
// column holding text (or named categorical) is one input per category, 1 for
// the row's category and 0 for the others, so that each category is a crisp
// term of its own. A missing value is NaN in every input of its column.

#include "DataTools/CsvImport/FeatureScaling.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrane {

// More categories than this in one column are refused: an input per category
// of an ID or a free-text column only makes the network wide.
inline constexpr size_t kMaxCategories = 1000;

// Learns from the rows of an import which columns hold categories, and which
// ones; then turns each row's cells into the inputs.
class ColumnLearner {
public:
  // `categorical`: the names among `names` that are categorical whatever they hold.
  ColumnLearner(std::vector<std::string> names, const std::vector<std::string> &categorical,
                const std::vector<std::string> &missing);
  size_t Columns() const { return columns_.size(); }
  // Reads fields[at[c]] for every column c: values[c] its number (NaN when
  // missing or not a number) and codes[c] its category code (-1: missing).
  // Raises ImportError ("line N: ...") for a column with too many categories.
  void Read(const std::vector<std::string> &fields, const std::vector<int> &at, int line,
            double *values, int32_t *codes);
  // After the last row: the inputs, column by column (categories in sorted
  // order, numbers by value). A column is taken as categories when it is
  // named so or when fewer of its values are numbers than are not; else its
  // first value that is not a number is refused (ImportError "line N: ..."),
  // as a slip is likelier than a category. Also raises ImportError for a
  // column without any value.
  std::vector<FeatureRange> Finish();
  // Added to the refusal of a value that is not a number: where the class
  // column came from, when the user did not name it.
  void SetClassHint(std::string hint) { classHint_ = std::move(hint); }
  // Whether column c's codes may still be needed: false once it holds more
  // than kMaxCategories values, all of them numbers (it can then only be a
  // column of numbers, or refused).
  bool KeepsCodes(size_t c) const { return !columns_[c].overflow; }
  // One row's cells as the inputs Finish listed (codes of -1 for a column
  // whose codes were not kept).
  void Expand(const double *values, const int32_t *codes, double *inputs) const;
  // What a user should know: the columns taken as categories, and those
  // whose values all differ, as in an ID column.
  std::vector<std::string> Notes() const;

private:
  struct Column {
    std::string name;
    bool forced = false;   // named categorical
    bool text = false;     // holds a value that is not a number
    bool overflow = false; // too many distinct values to keep their codes
    std::unordered_map<std::string, int32_t> codes;
    std::vector<std::string> texts; // by code
    int64_t present = 0;
    int64_t numbers = 0;
    int firstTextLine = 0; // the first value that is not a number
    std::string firstText;
    std::vector<int32_t> position; // code -> input offset within the column
    bool Categorical() const { return forced || text; }
  };
  int32_t Code(Column &column, const std::string &text, int line);

  std::vector<Column> columns_;
  std::vector<std::string> missing_;
  std::string classHint_;
};

// The inputs of a ranges file, read from the rows of new data: numbers as
// they are (unscaled), categories as 0/1. A category the ranges file does not
// list counts as missing.
class RowEncoder {
public:
  // at[c]: the field of the c-th of SourceColumns(inputs).
  RowEncoder(const std::vector<FeatureRange> &inputs, std::vector<int> at,
             std::vector<std::string> header, std::vector<std::string> missing);
  // The distinct source columns of the inputs, in input order.
  static std::vector<std::string> SourceColumns(const std::vector<FeatureRange> &inputs);
  // Writes the inputs of one row; returns the number of missing cells. Raises
  // ImportError ("line N: ...") for a numeric cell that is not a number.
  int Encode(const std::vector<std::string> &fields, int line, double *inputs);
  long Unseen() const { return unseen_; }
  // "!Warning: ..." for the unseen categories, or "" when there were none.
  std::string UnseenWarning() const;

private:
  struct Source {
    int field = 0;
    size_t first = 0; // first input
    size_t count = 1; // inputs of the column
    bool categorical = false;
    std::unordered_map<std::string, size_t> offset; // category -> input offset
  };
  std::vector<Source> sources_;
  std::vector<std::string> header_;
  std::vector<std::string> missing_;
  long unseen_ = 0;
  std::string firstUnseen_;
};

} // namespace kestrane

#endif
