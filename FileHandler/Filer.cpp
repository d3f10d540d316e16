// Data-set files: a bracketed header of row and column counts, then one row of
// numbers per example, optionally followed by label brackets.
//
// Row layout, as written and as read: the inputs, the expected outputs, the
// generated outputs and the errors (each group absent when its count is 0 or
// "Labels"), then the first table's label bracket when ExpectedOutputs is
// "Labels", then the second table's when GeneratedOutputs is "Labels".

#include "FileHandler/ParseTools.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/SafeSave.h"
#include "FileHandler/TokenChars.h"
#include "KQmessage/KQML.h"
#include "KQmessage/QuotedField.h"
#include "KQmessage/TException.h"

namespace kestrane {

namespace {

constexpr int kEof = std::char_traits<char>::eof();

using tokenchars::IsSeparator;
using tokenchars::IsSpecial;

// A label name the reader gives back unchanged: one word of word characters.
bool IsWord(const std::string &name) {
  if (name.empty())
    return false;
  for (char c : name)
    if (IsSeparator(static_cast<unsigned char>(c)) || IsSpecial(c))
      return false;
  return true;
}

// The next number of a data block. Plain number tokens are read straight from
// the stream buffer without building a statement; anything else (a comment, a
// bracket, the end of the input) goes through the statement reader, which
// gives the same result and the same errors.
double ReadDatum(FileTools &tools, std::istream &in, const char *blockName) {
  std::streambuf *buffer = in.rdbuf();
  int c = buffer->sgetc();
  while (c != kEof && IsSeparator(c)) {
    if (c == 0)
      throw FileTools::Error("NUL byte in the file: not a text file", &in);
    c = buffer->snextc();
  }
  if (c != kEof && !IsSpecial(c)) {
    char text[FileTools::kTokenBufferSize];
    size_t length = 0;
    do {
      if (length == sizeof text)
        throw FileTools::Error("Token longer than " + std::to_string(FileTools::kTokenBufferSize) +
                                   " characters",
                               &in);
      text[length++] = static_cast<char>(c);
      c = buffer->snextc();
    } while (c != kEof && !IsSeparator(c) && !IsSpecial(c));
    if (c == 0)
      throw FileTools::Error("NUL byte in the file: not a text file", &in);
    if (c != kEof && IsSeparator(c))
      buffer->sbumpc(); // the tokenizer consumes one separator
    double value = 0;
    const auto result = std::from_chars(text, text + length, value);
    if (result.ec == std::errc() && result.ptr == text + length)
      return value;
    return tools.ParseNumber(in, std::string(text, length)); // partial numbers, ranges
  }
  const Statement s = tools.ReadStatement(blockName, in);
  return tools.ReadNumberToken(s, in);
}

// Skips separators and comments up to the next character, which is returned
// without being consumed (kEof at the end).
int PeekPastComments(FileTools &tools, std::istream &in, const char *context) {
  for (;;) {
    const int c = in.peek();
    if (c == kEof)
      return c;
    if (c == 0)
      throw FileTools::Error("NUL byte in the file: not a text file", &in);
    if (IsSeparator(c)) {
      in.get();
      continue;
    }
    if (c != '/')
      return c;
    in.get();
    if (in.peek() != '*')
      throw FileTools::Error(std::string("Unexpected '/' ") + context, &in);
    in.get();
    tools.SkipComment(in);
  }
}

// The shapes of the two tables a header describes.
struct Layout {
  int32_t rows = 0, inputs = 0, expected = 0, generated = 0, errors = 0;
  bool labels1 = false, labels2 = false;
  bool HasFirst() const { return inputs > 0 || expected > 0 || labels1; }
  bool HasSecond() const { return generated > 0 || errors > 0 || labels2; }
};

using dataset_limits::kMaxNumbers;
using dataset_limits::kMaxNumbersPerRow;

int64_t NumbersPerRow(const Layout &layout) {
  return int64_t{layout.inputs} + layout.expected + layout.generated + layout.errors;
}

// A pipe or FIFO cannot tell how many bytes are left.
constexpr int64_t kUnknownSize = -1;

// Bytes from the current position to the end of the stream, or kUnknownSize
// when the stream cannot seek. A stream that has met its end (or failed) has
// nothing left; its position is not known then.
int64_t BytesLeft(std::istream &in) {
  if (!in)
    return 0;
  const std::streamoff here = in.tellg();
  if (here < 0) {
    in.clear(in.rdstate() & ~std::ios::failbit);
    return kUnknownSize;
  }
  if (!in.seekg(0, std::ios::end))
    return 0;
  const std::streamoff end = in.tellg();
  in.seekg(here);
  return end < here ? 0 : static_cast<int64_t>(end - here); // past the end: nothing left
}

// Refuses, before anything is allocated, `rows` rows that the `available`
// bytes cannot hold: every number takes at least a character and a separator,
// every label bracket at least "[]". With kUnknownSize only the limit on the
// numbers applies; the rows are then read in pieces (ReadRows).
void CheckRowsFit(std::istream &in, const Layout &layout, int32_t rows, int64_t available) {
  const int64_t numbers = NumbersPerRow(layout);
  const int64_t rowBytes = 2 * numbers + (layout.labels1 ? 2 : 0) + (layout.labels2 ? 2 : 0);
  if (rows > 0 && numbers > 0 && int64_t{rows} * numbers > kMaxNumbers)
    throw FileTools::Error("Data set too large: " + std::to_string(rows) + " rows of " +
                               std::to_string(numbers) + " numbers exceed " +
                               std::to_string(kMaxNumbers) + " numbers",
                           &in);
  if (available == kUnknownSize)
    return;
  // The last number of a file may end it without a separator.
  const int64_t needed = int64_t{rows} * rowBytes - 1;
  if (needed > available)
    throw FileTools::Error("Data set header promises " + std::to_string(rows) + " rows of " +
                               std::to_string(numbers) + " numbers, more than the " +
                               std::to_string(available) + " bytes left in the file can hold",
                           &in);
}

// The header and the [Data] statement, as LoadDataSet and LoadDataSetChunk read them.
Layout ReadHead(FileTools &tools, std::istream &in, std::string &dataSetName,
                std::string &dataName) {
  dataSetName = tools.ExpectBlock(tools.ReadStatement(nullptr, in), in, "DATASET");
  DataSetCounts counts;
  Statement ended;
  tools.ReadDataSetHeader(in, counts, ended); // a malformed header fails on [Data]
  dataName = tools.ExpectBlock(ended, in, "DATA");
  if (counts.rows == -1)
    throw FileTools::Error("Data set header without [Rows = <integer>]", &in);
  if (counts.rows < 0)
    throw FileTools::Error("Negative Rows in data set header", &in);
  Layout layout;
  layout.rows = counts.rows;
  layout.labels1 = counts.expectedOutputs == -1;
  layout.labels2 = counts.generatedOutputs == -1;
  layout.inputs = std::max(counts.inputs, 0);
  layout.expected = std::max(counts.expectedOutputs, 0);
  layout.generated = std::max(counts.generatedOutputs, 0);
  layout.errors = std::max(counts.errors, 0);
  if (NumbersPerRow(layout) > kMaxNumbersPerRow)
    throw FileTools::Error("Data set header asks for " + std::to_string(NumbersPerRow(layout)) +
                               " numbers per row, more than " + std::to_string(kMaxNumbersPerRow),
                           &in);
  return layout;
}

// The tables of one piece of rows; none where the layout has no such table.
struct Tables {
  std::unique_ptr<Data> first, second;

  Tables(const Layout &layout, int32_t rows) {
    if (layout.HasFirst())
      first = std::make_unique<Data>(rows, layout.inputs, layout.expected, layout.labels1);
    if (layout.HasSecond())
      second = std::make_unique<Data>(rows, layout.generated, layout.errors, layout.labels2);
  }
};

// Rows of a piece read from a stream of unknown length: about 16 MB of table,
// so that rows a header promises cost memory only once they have arrived.
int32_t PieceRows(const Layout &layout, int32_t rows) {
  constexpr int64_t kPieceBytes = int64_t{1} << 24;
  const int64_t rowBytes =
      int64_t{sizeof(double)} * NumbersPerRow(layout) +
      int64_t{sizeof(TLabelList)} * ((layout.labels1 ? 1 : 0) + (layout.labels2 ? 1 : 0));
  const int64_t piece = std::max<int64_t>(1, kPieceBytes / std::max<int64_t>(rowBytes, 1));
  return static_cast<int32_t>(std::min<int64_t>(rows, piece));
}

// Appends every row of `from` to `to`.
void AppendTable(Data *to, const Data *from) {
  if (!to)
    return;
  for (int32_t slot = 0; slot < from->MbrNdxRows; ++slot)
    to->AppendRow(from->InputSlot(slot), from->OutputSlot(slot), from->GetLabels(slot));
}

// Reads `rows` rows into new tables of `rows` row slots. A file of known size
// is checked first and read into tables of the full size; a pipe or FIFO is
// read into pieces, joined once every row has arrived.
void ReadRows(FileTools &tools, std::istream &in, const char *blockName, const Layout &layout,
              int32_t rows, std::unique_ptr<Data> &first, std::unique_ptr<Data> &second) {
  const int64_t available = BytesLeft(in);
  CheckRowsFit(in, layout, rows, available);
  if (!layout.HasFirst() && !layout.HasSecond())
    return; // rows without numbers or labels hold nothing to read
  const int32_t pieceRows = available == kUnknownSize ? PieceRows(layout, rows) : rows;
  std::vector<Tables> pieces;
  pieces.emplace_back(layout, pieceRows);
  std::vector<double> in1(static_cast<size_t>(layout.inputs));
  std::vector<double> out1(static_cast<size_t>(layout.expected));
  std::vector<double> in2(static_cast<size_t>(layout.generated));
  std::vector<double> out2(static_cast<size_t>(layout.errors));
  for (int32_t r = 0, inPiece = 0; r < rows; ++r, ++inPiece) {
    for (std::vector<double> *group : {&in1, &out1, &in2, &out2})
      for (double &value : *group)
        value = ReadDatum(tools, in, blockName);
    std::unique_ptr<TLabelList> labels1, labels2;
    if (layout.HasFirst() && layout.labels1)
      labels1 = tools.ReadLabels(in);
    if (layout.HasSecond() && layout.labels2)
      labels2 = tools.ReadLabels(in);
    if (inPiece == pieceRows) {
      pieces.emplace_back(layout, std::min(pieceRows, rows - r));
      inPiece = 0;
    }
    Tables &piece = pieces.back();
    if (piece.first)
      piece.first->AppendRow(in1.data(), out1.data(), labels1.get());
    if (piece.second)
      piece.second->AppendRow(in2.data(), out2.data(), labels2.get());
  }
  if (pieces.size() == 1) {
    first = std::move(pieces[0].first);
    second = std::move(pieces[0].second);
    return;
  }
  Tables whole(layout, rows);
  for (Tables &piece : pieces) {
    AppendTable(whole.first.get(), piece.first.get());
    AppendTable(whole.second.get(), piece.second.get());
    piece.first.reset(); // its memory goes as the whole grows
    piece.second.reset();
  }
  first = std::move(whole.first);
  second = std::move(whole.second);
}

// Row count and column counts of the tables to save; -83 when they do not fit one file.
int32_t SaveCounts(Data *first, Data *second, DataSetCounts &counts) {
  counts = DataSetCounts();
  if (first) {
    counts.rows = first->MbrNdxRows;
    counts.inputs = first->MbrNdxInputs;
    counts.expectedOutputs = first->MbrNdxOutputs;
    if (first->MbrBlnLabels) {
      // A labelled table's outputs have no place in the file.
      if (first->MbrNdxOutputs != 0)
        return kDataSetInconsistent;
      counts.expectedOutputs = -1;
    }
  }
  if (second) {
    if (!first)
      counts.rows = second->MbrNdxRows;
    else if (second->MbrNdxRows != first->MbrNdxRows)
      return kDataSetInconsistent;
    counts.generatedOutputs = second->MbrNdxInputs;
    counts.errors = second->MbrNdxOutputs;
    if (second->MbrBlnLabels) {
      if (second->MbrNdxInputs != 0)
        return kDataSetInconsistent;
      counts.generatedOutputs = -1;
    }
  }
  if (counts.rows == -1)
    return kDataSetInconsistent;
  if (!DataSetSizeProblem(
           counts.rows, int64_t{std::max(counts.inputs, 0)} + std::max(counts.expectedOutputs, 0) +
                            std::max(counts.generatedOutputs, 0) + std::max(counts.errors, 0))
           .empty())
    return kDataSetInconsistent;
  for (Data *table : {first, second})
    if (table && table->MbrBlnLabels)
      for (const TLabelList &list : table->MbrDyaLabels)
        for (const TLabel &label : list.labels)
          if (!IsWord(label.name))
            return kDataSetInconsistent;
  return kDataSetSuccess;
}

// Fifteen significant digits, or seventeen when fifteen would not read back
// as the same double. std::to_chars with a precision writes what printf's
// "%.15g" writes, several times faster: a large data-set file spends most of
// its time here. The non-finite values keep printf's spelling ("-nan").
void AppendNumber(std::string &line, double value) {
  char text[40];
  int length = 0;
  const double magnitude = std::fabs(value);
  if (magnitude >= std::numeric_limits<double>::min() && magnitude < 1e308) {
    // A normal double's rounding interval is narrower than the gap between
    // two numbers of fifteen digits, so fifteen digits read back exactly when
    // the shortest text that reads back has at most fifteen, and that is
    // quicker to find than reading the fifteen back. (Subnormals, and values
    // whose fifteen digits overflow, take the long way.)
    char shortest[40];
    const char *last =
        std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific)
            .ptr;
    const char *first = shortest + (value < 0 ? 1 : 0);
    const char *exponent = std::find(first, last, 'e');
    const long digits = (exponent - first) - (exponent - first > 1 ? 1 : 0);
    length = static_cast<int>(std::to_chars(text, text + sizeof text, value,
                                            std::chars_format::general, digits <= 15 ? 15 : 17)
                                  .ptr -
                              text);
  } else if (std::isfinite(value)) {
    char *end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15).ptr;
    double back = 0;
    const auto result = std::from_chars(text, end, back);
    if (result.ec == std::errc() && back != value)
      end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 17).ptr;
    length = static_cast<int>(end - text);
  } else {
    length = std::snprintf(text, sizeof text, "%.15g", value);
  }
  line.append(text, static_cast<size_t>(length));
  line += ' ';
}

void AppendValues(std::string &line, const double *values, int32_t count) {
  for (int32_t i = 0; i < count; ++i)
    AppendNumber(line, values[i]);
}

void AppendLabels(std::string &line, const TLabelList &labels) {
  line += '[';
  for (const TLabel &label : labels.labels) {
    line += label.name;
    if (label.value != 1.0) {
      // Nine decimals as always, unless they would not read back exactly.
      const char *format = "%.9f";
      int length = std::snprintf(nullptr, 0, format, label.value);
      std::string text(static_cast<size_t>(length) + 1, '\0');
      std::snprintf(&text[0], text.size(), format, label.value);
      if (std::strtod(text.c_str(), nullptr) != label.value && std::isfinite(label.value)) {
        format = "%.17g";
        length = std::snprintf(nullptr, 0, format, label.value);
        text.assign(static_cast<size_t>(length) + 1, '\0');
        std::snprintf(&text[0], text.size(), format, label.value);
      }
      text.resize(static_cast<size_t>(length));
      line += '=';
      line += text;
    }
    line += ' ';
  }
  line += "] ";
}

// A directory opens as a stream that reads nothing; it is no data-set file.
bool OpenForReading(std::ifstream &in, const char *fileName) {
  if (fileName == nullptr)
    return false;
  std::error_code ignored;
  if (std::filesystem::is_directory(fileName, ignored))
    return false;
  in.open(fileName, std::ios::binary);
  return static_cast<bool>(in);
}

// Closes the stream and reports whether everything reached the file.
int32_t Finish(std::ofstream &out) {
  out.flush();
  const bool written = static_cast<bool>(out);
  out.close();
  return written && !out.fail() ? kDataSetSuccess : kDataSetCannotOpen;
}

} // namespace

std::string DataSetSizeProblem(int64_t rows, int64_t numbersPerRow) {
  if (numbersPerRow > kMaxNumbersPerRow)
    return std::to_string(numbersPerRow) + " numbers per row, more than " +
           std::to_string(kMaxNumbersPerRow);
  if (rows > 0 && numbersPerRow > 0 && rows * numbersPerRow > kMaxNumbers)
    return std::to_string(rows) + " rows of " + std::to_string(numbersPerRow) +
           " numbers, more than " + std::to_string(kMaxNumbers) + " numbers in all";
  return std::string();
}

int32_t FileTools::ReadDataSetHeader(std::istream &in, DataSetCounts &counts, Statement &ended) {
  counts = DataSetCounts();
  int state = 0;
  for (;;) {
    Statement s = ReadStatement(nullptr, in);
    if (s.kind != StmtAssign) {
      ended = std::move(s);
      return kDataSetSuccess;
    }
    if (s.open) {
      ended = std::move(s);
      return kDataSetBadHeader;
    }
    const std::string &value = *s.value;
    long number = strcasecmp(value.c_str(), "LABELS") == 0 ? -1 : ParseInteger(in, value);
    if (number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<int32_t>::max())
      throw Error("Data set header count out of range: " + value, &in);
    const int32_t count = static_cast<int32_t>(number);
    const char *key = s.keyword->c_str();
    if (strcasecmp(key, "INPUTS") == 0 && state < 1) {
      if (count == -1)
        throw Error("No labels in inputs", &in);
      counts.inputs = count;
      state = 1;
    } else if (strcasecmp(key, "EXPECTEDOUTPUTS") == 0 && state < 2) {
      counts.expectedOutputs = count;
      state = 2;
    } else if (strcasecmp(key, "GENERATEDOUTPUTS") == 0 && state < 3) {
      counts.generatedOutputs = count;
      state = 3;
    } else if (strcasecmp(key, "ERROR") == 0 && state < 4) {
      if (count == -1)
        throw Error("No labels in inputs", &in);
      counts.errors = count;
      state = 4;
    } else if (strcasecmp(key, "ROWS") == 0) {
      if (count == -1)
        throw Error("No labels in inputs", &in);
      counts.rows = count;
    } else {
      ended = std::move(s);
      return kDataSetBadHeader;
    }
  }
}

std::unique_ptr<TLabelList> FileTools::ReadLabels(std::istream &in) {
  auto labels = std::make_unique<TLabelList>();
  const int c = PeekPastComments(*this, in, "where a label bracket should begin");
  if (c != '[') {
    throw Error(c == kEof ? "Unexpected end of file where a label bracket should begin"
                          : "Label bracket expected: a row's labels must begin with '['",
                &in);
  }
  in.get();
  if (PeekPastComments(*this, in, "in a label bracket") == ']') {
    in.get();
    return labels;
  }
  std::unordered_map<std::string, size_t> positions;
  for (;;) {
    Statement item;
    double value = 1.0;
    try {
      item = ReadStatement(nullptr, in, true);
      if (item.kind == StmtAssign)
        value = ParseNumber(in, *item.value);
      else if (item.kind != StmtKeyword)
        throw Error("not an item", &in);
    } catch (const Error &e) {
      throw Error("Bad label item, a word or name=number expected (" + e.GetMessage() + ")", &in);
    }
    // TLabelList::Append, with the names indexed: a row of many labels stays linear.
    const auto found = positions.find(*item.keyword);
    if (found != positions.end()) {
      labels->labels[found->second].value += value;
    } else {
      positions.emplace(*item.keyword, labels->labels.size());
      labels->labels.emplace_back(*item.keyword, value);
    }
    if (!item.open)
      return labels;
  }
}

int32_t FileTools::LoadDataSet(const char *fileName, std::unique_ptr<Data> &first,
                               std::unique_ptr<Data> &second) {
  std::ifstream in;
  if (!OpenForReading(in, fileName))
    return kDataSetCannotOpen;
  first.reset();
  second.reset();
  std::string dataSetName, dataName;
  const Layout layout = ReadHead(*this, in, dataSetName, dataName);
  std::unique_ptr<Data> table1, table2;
  ReadRows(*this, in, dataName.c_str(), layout, layout.rows, table1, table2);
  ExpectEnd(ReadStatement(dataName.c_str(), in), in);
  ExpectEnd(ReadStatement(dataSetName.c_str(), in), in);
  ExpectEnd(ReadStatement(nullptr, in), in);
  first = std::move(table1);
  second = std::move(table2);
  return kDataSetSuccess;
}

int32_t FileTools::LoadTrainingSet(const char *fileName, std::unique_ptr<Data> &table) {
  std::unique_ptr<Data> first, second;
  const int32_t code = LoadDataSet(fileName, first, second);
  if (code != kDataSetSuccess)
    return code;
  table = std::move(first);
  // A training set has inputs or expected outputs and nothing else.
  return second || !table ? kDataSetBadHeader : kDataSetSuccess;
}

int32_t FileTools::LoadDataSetChunk(const char *fileName, int64_t &offset, int32_t rows,
                                    std::unique_ptr<Data> &first, std::unique_ptr<Data> &second) {
  if (offset < 0 || rows < 0)
    throw TException("Invalid chunk", kBadParameter, "FileTools::LoadDataSetChunk");
  std::ifstream in;
  if (!OpenForReading(in, fileName))
    return kDataSetCannotOpen;
  first.reset();
  second.reset();
  std::string dataSetName, dataName;
  const Layout layout = ReadHead(*this, in, dataSetName, dataName);
  const std::streamoff start = in.tellg();
  if (start < 0 && in)
    throw Error("Chunks are read from a file that can seek, not from a pipe or FIFO", &in);
  if (start < 0 || !in.seekg(start + offset))
    throw Error("Chunk offset beyond the file", &in);
  std::unique_ptr<Data> table1, table2;
  ReadRows(*this, in, dataName.c_str(), layout, rows, table1, table2);
  in.clear(in.rdstate() & ~std::ios::eofbit);
  const std::streamoff end = in.tellg();
  if (end < 0)
    throw Error("Cannot tell the position in the file", &in);
  offset = end - start;
  first = std::move(table1);
  second = std::move(table2);
  return kDataSetSuccess;
}

int32_t FileTools::SaveDataSet(const char *fileName, Data *first, Data *second) {
  DataSetCounts counts;
  const int32_t code = SaveCounts(first, second, counts);
  if (code != kDataSetSuccess)
    return code;
  if (fileName == nullptr)
    return kDataSetCannotOpen;
  try {
    SafeSave save(fileName);
    WriteDataSet(save.Stream(), first, second);
    save.Commit();
  } catch (const Error &) {
    return kDataSetCannotOpen;
  }
  return kDataSetSuccess;
}

void FileTools::WriteDataSet(std::ostream &out, Data *first, Data *second) {
  int64_t rows = 0, numbers = 0;
  for (Data *table : {second, first}) {
    if (table) {
      rows = table->MbrNdxRows;
      numbers += int64_t{table->MbrNdxInputs} + table->MbrNdxOutputs;
    }
  }
  const std::string problem = DataSetSizeProblem(rows, numbers);
  if (!problem.empty())
    throw Error("Data set too large for its readers: " + problem, &out);
  DataSetCounts counts;
  if (SaveCounts(first, second, counts) != kDataSetSuccess)
    throw Error("Inconsistent tables for a data-set file", &out);
  WriteHeader(out, counts.inputs, counts.expectedOutputs, counts.generatedOutputs, counts.errors,
              counts.rows);
  WriteRows(out, first, second, counts.rows);
  WriteTrailer(out);
}

void FileTools::WriteHeader(std::ostream &out, int32_t inputs, int32_t expectedOutputs,
                            int32_t generatedOutputs, int32_t errors, int32_t rows) {
  WriteFormatVersion(out);
  WriteKeyword(out, "DataSet", true);
  WriteInteger(out, "Rows", rows, true);
  WriteInteger(out, "Inputs", inputs, true);
  if (expectedOutputs == -1)
    WriteString(out, "ExpectedOutputs", "Labels", true);
  else
    WriteInteger(out, "ExpectedOutputs", expectedOutputs, true);
  if (generatedOutputs == -1)
    WriteString(out, "GeneratedOutputs", "Labels", true);
  else
    WriteInteger(out, "GeneratedOutputs", generatedOutputs, true);
  WriteInteger(out, "Error", errors, true);
  out << '\n';
  WriteKeyword(out, "Data", true);
}

void FileTools::WriteRows(std::ostream &out, Data *first, Data *second, int32_t rows) {
  std::string text;
  for (int32_t i = 0; i < rows && out; ++i) {
    if (first) {
      AppendValues(text, first->InputSlot(i), first->MbrNdxInputs);
      text += "  ";
      if (!first->MbrBlnLabels)
        AppendValues(text, first->OutputSlot(i), first->MbrNdxOutputs);
    }
    if (second) {
      text += "  ";
      if (!second->MbrBlnLabels)
        AppendValues(text, second->InputSlot(i), second->MbrNdxInputs);
      text += "  ";
      AppendValues(text, second->OutputSlot(i), second->MbrNdxOutputs);
    }
    if (first && first->MbrBlnLabels)
      AppendLabels(text, first->MbrDyaLabels[i]);
    if (second && second->MbrBlnLabels)
      AppendLabels(text, second->MbrDyaLabels[i]);
    text += '\n';
    if (text.size() >= 1 << 16) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      text.clear();
    }
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void FileTools::WriteTrailer(std::ostream &out) {
  WriteEndTag(out, "Data");
  out << '\n';
  WriteEndTag(out, "DataSet");
}

int32_t FileTools::WriteDataSetHeader(const char *fileName, int32_t inputs, int32_t expectedOutputs,
                                      int32_t generatedOutputs, int32_t errors, int32_t rows) {
  if (rows < 0 ||
      !DataSetSizeProblem(rows, int64_t{std::max(inputs, 0)} + std::max(expectedOutputs, 0) +
                                    std::max(generatedOutputs, 0) + std::max(errors, 0))
           .empty())
    return kDataSetInconsistent;
  if (fileName == nullptr)
    return kDataSetCannotOpen;
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out)
    return kDataSetCannotOpen;
  WriteHeader(out, inputs, expectedOutputs, generatedOutputs, errors, rows);
  return Finish(out);
}

int32_t FileTools::WriteDataSetRows(const char *fileName, Data *first, Data *second) {
  DataSetCounts counts;
  const int32_t code = SaveCounts(first, second, counts);
  if (code != kDataSetSuccess)
    return code;
  if (fileName == nullptr)
    return kDataSetCannotOpen;
  std::ofstream out(fileName, std::ios::binary | std::ios::app);
  if (!out)
    return kDataSetCannotOpen;
  WriteRows(out, first, second, counts.rows);
  return Finish(out);
}

int32_t FileTools::WriteDataSetTrailer(const char *fileName) {
  if (fileName == nullptr)
    return kDataSetCannotOpen;
  std::ofstream out(fileName, std::ios::binary | std::ios::app);
  if (!out)
    return kDataSetCannotOpen;
  WriteTrailer(out);
  return Finish(out);
}

void FileTools::WriteLabels(std::ostream &out, const TLabelList &labels) {
  for (const TLabel &label : labels.labels)
    if (!IsWord(label.name))
      throw Error("Label name is not a single word: " + QuotedField(label.name), &out);
  std::string text;
  AppendLabels(text, labels);
  out << text;
}

std::unique_ptr<TKQstructure> FileTools::ProbeFile(const char *fileName) {
  std::ifstream in;
  if (!OpenForReading(in, fileName))
    return TKQstructure::MakeError("file-read-error");
  const std::string keyword = ExpectBlock(ReadStatement(nullptr, in), in, nullptr);
  if (strcasecmp(keyword.c_str(), "DATASET") == 0) {
    DataSetCounts counts;
    Statement ended;
    if (ReadDataSetHeader(in, counts, ended) == kDataSetBadHeader)
      return TKQstructure::MakeError("bad-header");
    auto reply = std::make_unique<TKQstructure>("data");
    reply->SetInteger("rows", counts.rows);
    reply->SetInteger("inputs", counts.inputs);
    reply->SetInteger("actual-outputs", counts.expectedOutputs);
    reply->SetInteger("calc-outputs", counts.generatedOutputs);
    reply->SetInteger("errors", counts.errors);
    return reply;
  }
  if (strcasecmp(keyword.c_str(), "NETWORK") == 0)
    return std::make_unique<TKQstructure>("network");
  auto reply = TKQstructure::MakeError("unknown-header");
  reply->SetWord("header", keyword.c_str());
  return reply;
}

} // namespace kestrane
