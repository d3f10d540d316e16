#include "DataTools/CsvImport/CsvReader.h"

#include <cstdlib>
#include <istream>

namespace kestrane {

namespace {

// Splits the input into records, one at a time.
class RecordReader {
public:
  RecordReader(std::istream &in, char separator)
      : in_(in), sep_(static_cast<unsigned char>(separator)) {}

  // Reads the next non-blank record into fields; false at end of input.
  bool Next(std::vector<std::string> &fields, int &startLine) {
    for (;;) {
      fields.clear();
      if (in_.peek() == std::char_traits<char>::eof()) return false;
      startLine = line_;
      bool blank = true;
      std::string field;
      for (;;) {
        int c = in_.get();
        if (c == std::char_traits<char>::eof()) {
          fields.push_back(field);
          break;
        }
        if (c == 0) throw NulByte();
        if (c == '"' && field.empty() && !quotedSeen_) {
          ReadQuoted(field, startLine);
          blank = false;
          quotedSeen_ = true;
          continue;
        }
        if (c == '\r' && in_.peek() == '\n') c = in_.get();
        if (c == '\n' || c == '\r') {
          ++line_;
          fields.push_back(field);
          break;
        }
        if (quotedSeen_ && c != sep_) {
          throw ImportError("line " + std::to_string(line_) +
                            ": unexpected text after a closing quote");
        }
        blank = false;
        if (c == sep_) {
          fields.push_back(field);
          field.clear();
          quotedSeen_ = false;
        } else {
          field += static_cast<char>(c);
        }
      }
      quotedSeen_ = false;
      if (!(blank && fields.size() == 1 && fields[0].empty())) return true;
    }
  }

private:
  void ReadQuoted(std::string &field, int startLine) {
    for (;;) {
      const int c = in_.get();
      if (c == std::char_traits<char>::eof()) {
        throw ImportError("line " + std::to_string(startLine) + ": quoted field is not closed");
      }
      if (c == 0) throw NulByte();
      if (c == '"') {
        if (in_.peek() != '"') return;
        in_.get();
      }
      if (c == '\n') ++line_;
      field += static_cast<char>(c);
    }
  }

  // /dev/zero would otherwise be one endless field.
  ImportError NulByte() const {
    return ImportError("line " + std::to_string(line_) + ": NUL byte: not a text file");
  }

  std::istream &in_;
  int sep_;  // as get() returns it
  int line_ = 1;
  bool quotedSeen_ = false;  // the current field was quoted and has closed
};

} // namespace

int CsvTable::FindColumn(const std::string &text) const {
  int found = -1;
  for (size_t i = 0; i < header.size(); ++i) {
    if (header[i] != text) continue;
    if (found >= 0) throw ImportError("column name \"" + text + "\" appears more than once");
    found = static_cast<int>(i);
  }
  if (found >= 0) return found;
  char *end = nullptr;
  const long index = std::strtol(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && index >= 0 && index < static_cast<long>(header.size())) {
    return static_cast<int>(index);
  }
  throw ImportError("no column \"" + text + "\" (neither a header name nor a column index 0 to " +
                    std::to_string(header.size() - 1) + ")");
}

CsvTable ReadCsv(std::istream &in, char separator) {
  // A byte-order mark is not part of the first column's name.
  if (in.peek() == 0xEF) {
    char bom[3] = {};
    in.read(bom, 3);
    if (!(bom[1] == '\xBB' && bom[2] == '\xBF')) {
      in.clear();
      in.seekg(0);
    }
  }
  RecordReader reader(in, separator);
  CsvTable table;
  if (!reader.Next(table.header, table.headerLine)) {
    throw ImportError("the CSV file is empty (no header row)");
  }
  std::vector<std::string> fields;
  int line = 0;
  while (reader.Next(fields, line)) {
    if (fields.size() != table.header.size()) {
      throw ImportError("line " + std::to_string(line) + ": " + std::to_string(fields.size()) +
                        " fields, but the header has " + std::to_string(table.header.size()));
    }
    table.rows.push_back(fields);
    table.rowLines.push_back(line);
  }
  return table;
}

} // namespace kestrane
