#include "DataTools/CsvImport/CsvReader.h"

#include "KQmessage/QuotedField.h"

#include <cstdlib>
#include <istream>

namespace kestrane {

CsvRecords::CsvRecords(std::istream &in, char separator)
    : sep_(static_cast<unsigned char>(separator)) {
  // A byte-order mark is not part of the first column's name.
  if (in.peek() == 0xEF) {
    char bom[3] = {};
    in.read(bom, 3);
    if (!(bom[1] == '\xBB' && bom[2] == '\xBF')) {
      in.clear();
      in.seekg(0);
    }
  }
  buf_ = in.rdbuf();
  block_.resize(1 << 16);
}

bool CsvRecords::Fill() {
  const std::streamsize got =
      buf_->sgetn(block_.data(), static_cast<std::streamsize>(block_.size()));
  pos_ = 0;
  end_ = got > 0 ? static_cast<size_t>(got) : 0;
  return end_ > 0;
}

void CsvRecords::TakePlain(std::string &field) {
  for (;;) {
    const char *first = block_.data() + pos_;
    const char *last = block_.data() + end_;
    const char *stop = first;
    while (stop != last) {
      const int c = static_cast<unsigned char>(*stop);
      if (c == sep_ || c == '"' || c == '\n' || c == '\r' || c == 0)
        break;
      ++stop;
    }
    field.append(first, static_cast<size_t>(stop - first));
    pos_ += static_cast<size_t>(stop - first);
    if (stop != last || !Fill())
      return;
  }
}

void CsvRecords::Header(std::vector<std::string> &fields, int &line) {
  if (!Next(fields, line))
    throw ImportError("the CSV file is empty (no header row)");
}

bool CsvRecords::Next(std::vector<std::string> &fields, int &startLine) {
  for (;;) {
    // The strings of the last record are reused: their room stays.
    size_t count = 0;
    const auto newField = [&]() -> std::string & {
      if (count == fields.size())
        fields.emplace_back();
      std::string &field = fields[count++];
      field.clear();
      return field;
    };
    if (Peek() == kEnd) {
      fields.clear();
      return false;
    }
    startLine = line_;
    bool blank = true;
    std::string *field = &newField();
    for (;;) {
      if (!quotedSeen_ && !field->empty())
        TakePlain(*field);
      int c = Get();
      if (c == kEnd)
        break;
      if (c == 0)
        throw NulByte();
      if (c == '"' && field->empty() && !quotedSeen_) {
        ReadQuoted(*field, startLine);
        blank = false;
        quotedSeen_ = true;
        continue;
      }
      if (c == '\r' && Peek() == '\n')
        c = Get();
      if (c == '\n' || c == '\r') {
        ++line_;
        break;
      }
      if (quotedSeen_ && c != sep_) {
        throw ImportError("line " + std::to_string(line_) +
                          ": unexpected text after a closing quote");
      }
      blank = false;
      if (c == sep_) {
        field = &newField();
        quotedSeen_ = false;
      } else {
        *field += static_cast<char>(c);
      }
    }
    fields.resize(count);
    quotedSeen_ = false;
    if (!(blank && fields.size() == 1 && fields[0].empty()))
      return true;
  }
}

void CsvRecords::ReadQuoted(std::string &field, int startLine) {
  for (;;) {
    const int c = Get();
    if (c == kEnd) {
      throw ImportError("line " + std::to_string(startLine) + ": quoted field is not closed");
    }
    if (c == 0)
      throw NulByte();
    if (c == '"') {
      if (Peek() != '"')
        return;
      Get();
    }
    if (c == '\n')
      ++line_;
    field += static_cast<char>(c);
  }
}

// /dev/zero would otherwise be one endless field.
ImportError CsvRecords::NulByte() const {
  return ImportError("line " + std::to_string(line_) + ": NUL byte: not a text file");
}

ImportError FieldCountError(int line, size_t fields, size_t headerFields) {
  return ImportError("line " + std::to_string(line) + ": " + std::to_string(fields) +
                     " fields, but the header has " + std::to_string(headerFields));
}

int CsvTable::FindColumn(const std::string &text) const {
  int found = -1;
  for (size_t i = 0; i < header.size(); ++i) {
    if (header[i] != text)
      continue;
    if (found >= 0)
      throw ImportError("column name " + QuotedField(text) + " appears more than once");
    found = static_cast<int>(i);
  }
  if (found >= 0)
    return found;
  char *end = nullptr;
  const long index = std::strtol(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && index >= 0 && index < static_cast<long>(header.size())) {
    return static_cast<int>(index);
  }
  throw ImportError("no column " + QuotedField(text) +
                    " (neither a header name nor a column index 0 to " +
                    std::to_string(header.size() - 1) + ")");
}

CsvTable ReadCsv(std::istream &in, char separator) {
  CsvRecords reader(in, separator);
  CsvTable table;
  reader.Header(table.header, table.headerLine);
  std::vector<std::string> fields;
  int line = 0;
  while (reader.Next(fields, line)) {
    if (fields.size() != table.header.size()) {
      throw FieldCountError(line, fields.size(), table.header.size());
    }
    table.rows.push_back(fields);
    table.rowLines.push_back(line);
  }
  return table;
}

} // namespace kestrane
