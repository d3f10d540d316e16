// Tokenizer, statement reader, checking readers and writers of the bracketed
// text format shared by network files and data-set files.

#include "FileHandler/ParseTools.h"
#include "FileHandler/TokenChars.h"

#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>

namespace kestrane {

FileTools::Error::Error(std::string message, std::ios *stream, int word)
    : message_(std::move(message)), stream_(stream), word_(word) {}

namespace {

constexpr int kEof = std::char_traits<char>::eof();

using tokenchars::IsSeparator;
using tokenchars::IsSpecial;

// A NUL byte counts as a separator by the rule above, so /dev/zero would read
// as endless blanks; no text file holds one.
int NotNul(int c, std::istream &in) {
  if (c == 0)
    throw FileTools::Error("NUL byte in the file: not a text file", &in);
  return c;
}

bool StartsSpecial(const std::string &text) { return !text.empty() && IsSpecial(text[0]); }

// Skips whitespace and returns the next character without consuming it.
int PeekPastWhitespace(std::istream &in) {
  for (;;) {
    const int c = NotNul(in.peek(), in);
    if (c == kEof || !IsSeparator(c))
      return c;
    in.get();
  }
}

bool EqualsIgnoringCase(const std::string &a, const char *b) {
  return b != nullptr && strcasecmp(a.c_str(), b) == 0;
}

void Write(std::ostream &out, const char *text) { out << (text ? text : ""); }

} // namespace

// ---- reading

std::string FileTools::ReadToken(std::istream &in) {
  for (;;) {
    int c = NotNul(in.get(), in);
    while (c != kEof && IsSeparator(c))
      c = NotNul(in.get(), in);
    if (c == kEof)
      return std::string();

    if (IsSpecial(c)) {
      const int d = in.get();
      if (d == kEof)
        return std::string(1, static_cast<char>(c));
      if (c == '/' && d == '*') {
        SkipComment(in); // a comment counts as whitespace
        continue;
      }
      if (c == '[' && d == '~')
        return "[~";
      in.putback(static_cast<char>(d));
      return std::string(1, static_cast<char>(c));
    }

    int length = 0;
    while (c != kEof && !IsSeparator(c) && !IsSpecial(c)) {
      if (length == kTokenBufferSize)
        throw Error("Token longer than " + std::to_string(kTokenBufferSize) + " characters", &in);
      tokenBuffer[length++] = static_cast<char>(c);
      c = NotNul(in.get(), in);
    }
    if (c != kEof && IsSpecial(c))
      in.putback(static_cast<char>(c)); // it begins the next token
    return std::string(tokenBuffer, static_cast<size_t>(length));
  }
}

void FileTools::SkipComment(std::istream &in) {
  // Comments nest. A depth counter instead of recursion keeps deeply nested
  // input from exhausting the stack; `previous` follows the same rule a
  // recursive reader would: a fresh level starts after a blank, and after an
  // inner comment closes the enclosing one continues from the inner "*".
  long depth = 1;
  int previous = ' ';
  for (;;) {
    const int c = NotNul(in.get(), in);
    if (c == kEof)
      throw Error("Unexpected end of file during comment", &in);
    if (previous == '*' && c == '/') {
      if (--depth == 0)
        return;
      previous = '*';
    } else if (previous == '/' && c == '*') {
      ++depth;
      previous = ' ';
    } else {
      previous = c;
    }
  }
}

Statement FileTools::ReadStatement(const char *blockName, std::istream &in, bool bracketRead) {
  // A format-version statement is consumed and the statement after it is
  // returned; the loop stands in for that tail call.
  for (;;) {
    std::string t = ReadToken(in);
    if (t == "]")
      throw Error("Unexpected ']' where a statement should begin", &in);

    if (t.empty()) {
      if (blockName != nullptr || bracketRead)
        throw Error("Unexpected end of file", &in);
      Statement end;
      end.kind = StmtEnd;
      return end;
    }

    if (t == "[" || bracketRead) {
      std::string keyword = bracketRead ? std::move(t) : ReadToken(in);
      if (keyword.empty())
        throw Error("Unexpected end of file", &in);
      if (StartsSpecial(keyword))
        throw Error("Unexpected special character", &in);

      Statement s;
      int ch = PeekPastWhitespace(in);
      if (ch == ']') {
        in.get();
        s.kind = StmtKeyword;
        s.keyword = std::move(keyword);
        return s;
      }
      if (ch != '=') {
        s.kind = StmtKeyword;
        s.keyword = std::move(keyword);
        s.open = true;
        return s;
      }
      in.get();
      std::string value = ReadToken(in);
      if (value.empty())
        throw Error("Unexpected end of file", &in);
      if (StartsSpecial(value))
        throw Error("Unexpected special character", &in);
      ch = PeekPastWhitespace(in);

      if (!bracketRead && EqualsIgnoringCase(keyword, "FORMATVERSION")) {
        if (ch != ']')
          throw Error("Illegal Format of FormatVersion", &in);
        in.get();
        if (ParseNumber(in, value) > 1.0)
          throw Error("Illegal Format Version", &in);
        continue;
      }

      s.kind = StmtAssign;
      s.keyword = std::move(keyword);
      s.value = std::move(value);
      if (ch == ']')
        in.get();
      else
        s.open = true;
      return s;
    }

    if (t == "[~") {
      if (blockName == nullptr)
        throw Error("End tag found where no block is open", &in);
      const std::string name = ReadToken(in);
      if (!EqualsIgnoringCase(name, blockName))
        throw Error("Unexpected End Tag", &in);
      if (ReadToken(in) != "]")
        throw Error("Expected ']'", &in);
      Statement end;
      end.kind = StmtEnd;
      return end;
    }

    Statement token;
    token.kind = StmtToken;
    token.keyword = std::move(t);
    return token;
  }
}

std::string FileTools::ExpectBlock(const Statement &s, std::istream &in, const char *name) {
  if (name != nullptr) {
    if (s.kind != StmtKeyword || !s.keyword || !EqualsIgnoringCase(*s.keyword, name))
      throw Error(std::string("[") + name + "] expected", &in);
  } else if (s.kind != StmtKeyword || !s.keyword) {
    throw Error("start of block expected", &in);
  }
  return *s.keyword;
}

void FileTools::ExpectEnd(const Statement &s, std::istream &in) {
  if (s.kind != StmtEnd)
    throw Error("End Tag expected", &in);
}

std::string FileTools::ReadString(const Statement &s, std::istream &in, const char *key,
                                  const char *expected) {
  KASSERT_TEXT(key != nullptr, "s != NULL");
  if (s.kind != StmtAssign || !s.keyword || !EqualsIgnoringCase(*s.keyword, key))
    throw Error(std::string("[") + key + " = <string>] expected" + s.keyword.value_or(""), &in);
  const std::string value = s.value.value_or("");
  if (expected == nullptr)
    return value;
  if (!EqualsIgnoringCase(value, expected))
    throw Error(std::string("[") + key + " = " + expected + "] expected", &in);
  return std::string();
}

long FileTools::ReadInteger(const Statement &s, std::istream &in, const char *key) {
  KASSERT_TEXT(key != nullptr, "s != NULL");
  if (s.kind != StmtAssign || !s.keyword || !EqualsIgnoringCase(*s.keyword, key))
    throw Error(std::string("[") + key + " = <integer>] expected", &in);
  return ParseInteger(in, s.value.value_or(""));
}

double FileTools::ReadNumber(const Statement &s, std::istream &in, const char *key) {
  KASSERT_TEXT(key != nullptr, "s != NULL");
  if (s.kind != StmtAssign || !s.keyword || !EqualsIgnoringCase(*s.keyword, key))
    throw Error(std::string("[") + key + " = <number>] expected", &in);
  return ParseNumber(in, s.value.value_or(""));
}

double FileTools::ReadNumberToken(const Statement &s, std::istream &in) {
  if (s.kind != StmtToken || !s.keyword)
    throw Error("Token (number) expected", &in);
  return ParseNumber(in, *s.keyword);
}

long FileTools::ParseInteger(std::istream &in, const std::string &text) {
  // "%ld" semantics: leading blanks skipped, trailing characters ignored. A
  // number too large for a long is refused rather than silently saturated.
  const char *start = text.c_str();
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(start, &end, 10);
  if (end == start || errno == ERANGE)
    throw Error("integer-expected", &in);
  return value;
}

double FileTools::ParseNumber(std::istream &in, const std::string &text) {
  const char *start = text.c_str();
  char *end = nullptr;
  const double value = std::strtod(start, &end);
  if (end == start)
    throw Error("number-expected", &in);
  return value;
}

// ---- writing

void FileTools::WriteStatement(int32_t kind, const char *keyword, const char *value,
                               std::ostream &out, bool bracket) {
  switch (kind) {
  case StmtEnd:
    if (keyword == nullptr)
      return;
    KASSERT_TEXT(bracket, "bracket");
    out << "[~" << keyword << "]" << std::endl;
    return;
  case StmtToken:
    Write(out, keyword);
    out << ' ';
    return;
  case StmtKeyword:
    if (bracket) {
      out << '[';
      Write(out, keyword);
      out << ']' << std::endl;
    } else {
      Write(out, keyword);
      out << ' ';
    }
    return;
  case StmtAssign:
    if (bracket) {
      out << '[';
      Write(out, keyword);
      out << " = ";
      Write(out, value);
      out << ']' << std::endl;
    } else {
      Write(out, keyword);
      out << '=';
      Write(out, value);
      out << ' ';
    }
    return;
  case StmtFormatVersion:
    KASSERT_TEXT(bracket, "bracket");
    out << "[FormatVersion = 1.0]" << std::endl << std::endl;
    return;
  default:
    KASSERT_TEXT(false, "0");
  }
}

void FileTools::WriteFormatVersion(std::ostream &out, bool bracket) {
  WriteStatement(StmtFormatVersion, nullptr, nullptr, out, bracket);
}

void FileTools::WriteKeyword(std::ostream &out, const char *keyword, bool bracket) {
  WriteStatement(StmtKeyword, keyword, nullptr, out, bracket);
}

void FileTools::WriteEndTag(std::ostream &out, const char *keyword, bool bracket) {
  WriteStatement(StmtEnd, keyword, nullptr, out, bracket);
}

void FileTools::WriteString(std::ostream &out, const char *keyword, const char *value,
                            bool bracket) {
  WriteStatement(StmtAssign, keyword, value, out, bracket);
}

void FileTools::WriteInteger(std::ostream &out, const char *keyword, long value, bool bracket) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", value);
  WriteStatement(StmtAssign, keyword, text, out, bracket);
}

void FileTools::WriteNumber(std::ostream &out, const char *keyword, double value, int precision,
                            bool bracket) {
  // Sized from the formatted length: a large value or precision is never cut.
  const int length = std::snprintf(nullptr, 0, "%.*f", precision, value);
  KASSERT(length >= 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&text[0], text.size(), "%.*f", precision, value);
  text.resize(static_cast<size_t>(length));
  WriteStatement(StmtAssign, keyword, text.c_str(), out, bracket);
}

void FileTools::OpenBracket(std::ostream &out, bool bracket) {
  if (bracket)
    out << '[';
}

void FileTools::CloseBracket(std::ostream &out, bool bracket, bool newline) {
  if (!bracket)
    return;
  out << ']';
  if (newline)
    out << std::endl;
}

} // namespace kestrane
