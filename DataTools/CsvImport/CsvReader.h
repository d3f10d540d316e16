#ifndef KESTRANE_DATATOOLS_CSVIMPORT_CSVREADER_H
#define KESTRANE_DATATOOLS_CSVIMPORT_CSVREADER_H

// Reading CSV text (RFC 4180): fields separated by one chosen character,
// records ended by LF or CRLF, fields optionally in double quotes (a quoted
// field may hold the separator, line ends and "" for one quote). Blank lines
// are skipped, so a trailing blank line does no harm. A UTF-8 byte-order mark
// at the start is dropped.

#include "DataTools/CsvImport/ImportError.h"

#include <iosfwd>
#include <streambuf>
#include <string>
#include <vector>

namespace kestrane {

struct CsvTable {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  std::vector<int> rowLines; // line number (from 1) where each row starts
  int headerLine = 1;

  // The column named `text`, or else `text` read as a 0-based index; raises
  // ImportError when neither fits or the name is ambiguous.
  int FindColumn(const std::string &text) const;
};

// Records one at a time, so that a large file need not be held as text. The
// byte-order mark is dropped on construction.
class CsvRecords {
public:
  CsvRecords(std::istream &in, char separator);
  // The first record, the header; raises ImportError for an empty input.
  void Header(std::vector<std::string> &fields, int &line);
  // The next non-blank record and the line it starts on; false at the end.
  // Raises ImportError for an unclosed quote, text after a closing quote and
  // a NUL byte.
  bool Next(std::vector<std::string> &fields, int &line);

private:
  void ReadQuoted(std::string &field, int startLine);
  ImportError NulByte() const;
  // The text comes through a block of its own: a call into the stream
  // buffer per character costs more than the rest of the reading.
  int Get() { return pos_ < end_ || Fill() ? static_cast<unsigned char>(block_[pos_++]) : kEnd; }
  int Peek() { return pos_ < end_ || Fill() ? static_cast<unsigned char>(block_[pos_]) : kEnd; }
  bool Fill();
  // Appends to `field` the characters up to the next one that is not plain
  // text (a separator, a quote, a line end or a NUL byte).
  void TakePlain(std::string &field);

  static constexpr int kEnd = std::char_traits<char>::eof();
  std::streambuf *buf_;
  std::vector<char> block_;
  size_t pos_ = 0;
  size_t end_ = 0;
  int sep_; // as Get() returns it
  int line_ = 1;
  bool quotedSeen_ = false; // the current field was quoted and has closed
};

// The message of a record whose field count differs from the header's.
ImportError FieldCountError(int line, size_t fields, size_t headerFields);

// Reads the header and every record; raises ImportError ("line N: ...") for an
// empty input, an unclosed quote, text after a closing quote and a record whose
// field count differs from the header's.
CsvTable ReadCsv(std::istream &in, char separator = ',');

} // namespace kestrane

#endif
