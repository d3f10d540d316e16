#ifndef KESTRANE_FILEHANDLER_PARSETOOLS_H
#define KESTRANE_FILEHANDLER_PARSETOOLS_H

// FileTools: the object through which every file operation of the system runs.
// It holds one scratch token buffer. The parse and write tools are defined in
// ParseTools.cpp; the network file in NetworkFile.cpp, the membership-function
// sections in SaveVemo.cpp and the data-set file in Filer.cpp.

#include "KQmessage/KestraneError.h"

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace kestrane {

class TBasicNetwork;
class TBasicLayer;
class TConditionLayer;
class TVemoOutputLayer;
class Data;
class TLabelList;
class TKQstructure;

enum StatementKind : int32_t {
  StmtEnd = 0,          // end of input at top level, or the current block's end tag
  StmtToken = 1,        // a bare word outside brackets
  StmtKeyword = 2,      // [Keyword]
  StmtAssign = 3,       // [Keyword = value]
  StmtNone = 4,         // never returned
  StmtFormatVersion = 5 // writer only
};

struct Statement {
  int32_t kind = StmtNone;
  std::optional<std::string> keyword; // keyword of a bracket, or the text of a bare token
  std::optional<std::string> value;   // value after "="
  bool open = false;                  // the bracket continues with further items
};

// Counts read from a data-set header; -1 stands for "Labels" (and for a missing Rows).
struct DataSetCounts {
  int32_t rows = -1;
  int32_t inputs = 0;
  int32_t expectedOutputs = 0;
  int32_t generatedOutputs = 0;
  int32_t errors = 0;
};

// What a data-set file may hold, far beyond any real data set: the reader
// refuses more before it allocates anything, so that a few hostile bytes
// cannot cost gigabytes, and the writers refuse to write more
// (DataSetSizeProblem).
namespace dataset_limits {
inline constexpr int64_t kMaxNumbersPerRow = 1000000; // the four column counts together
inline constexpr int64_t kMaxNumbers = 2147483647;    // rows x numbers per row: 32-bit sizes
} // namespace dataset_limits

// Why the readers would refuse `rows` rows of `numbersPerRow` numbers, on one
// line ("1000002 numbers per row, more than 1000000"); empty when they take them.
std::string DataSetSizeProblem(int64_t rows, int64_t numbersPerRow);

// Result codes of the data-set operations.
inline constexpr int32_t kDataSetSuccess = 0;
inline constexpr int32_t kDataSetCannotOpen = -81;
inline constexpr int32_t kDataSetBadHeader = -82;
inline constexpr int32_t kDataSetInconsistent = -83;

class FileTools {
public:
  // A failure while reading or writing one of the bracketed text files.
  class Error : public TKestraneError {
  public:
    explicit Error(std::string message, std::ios *stream = nullptr, int word = 0);
    const char *what() const noexcept override { return message_.c_str(); }
    const std::string &GetMessage() const { return message_; }
    std::ios *GetStream() const { return stream_; }

  private:
    std::string message_;
    std::ios *stream_;
    [[maybe_unused]] int word_; // stored with the error, read by nothing yet
  };

  static constexpr int kTokenBufferSize = 1028;

  // ---- reading (ParseTools.cpp)
  std::string ReadToken(std::istream &in); // empty text at end of input
  void SkipComment(std::istream &in);
  Statement ReadStatement(const char *blockName, std::istream &in, bool bracketRead = false);
  std::string ExpectBlock(const Statement &s, std::istream &in, const char *name);
  void ExpectEnd(const Statement &s, std::istream &in);
  // Returns the value; with an expected value it checks it and returns an empty text.
  std::string ReadString(const Statement &s, std::istream &in, const char *key,
                         const char *expected = nullptr);
  long ReadInteger(const Statement &s, std::istream &in, const char *key);
  double ReadNumber(const Statement &s, std::istream &in, const char *key);
  double ReadNumberToken(const Statement &s, std::istream &in);
  long ParseInteger(std::istream &in, const std::string &text);
  double ParseNumber(std::istream &in, const std::string &text);
  static std::string CopyText(const char *text) { return text ? std::string(text) : std::string(); }

  // ---- writing (ParseTools.cpp); `bracket` false writes an item inside an open bracket
  void WriteStatement(int32_t kind, const char *keyword, const char *value, std::ostream &out,
                      bool bracket);
  void WriteFormatVersion(std::ostream &out, bool bracket = true);
  void WriteKeyword(std::ostream &out, const char *keyword, bool bracket);
  void WriteEndTag(std::ostream &out, const char *keyword, bool bracket = true);
  void WriteString(std::ostream &out, const char *keyword, const char *value, bool bracket);
  void WriteInteger(std::ostream &out, const char *keyword, long value, bool bracket);
  void WriteNumber(std::ostream &out, const char *keyword, double value, int precision,
                   bool bracket);
  void OpenBracket(std::ostream &out, bool bracket);
  void CloseBracket(std::ostream &out, bool bracket, bool newline);

  // ---- network file (NetworkFile.cpp)
  std::unique_ptr<TBasicNetwork> LoadNetwork(const char *fileName);
  std::unique_ptr<TBasicNetwork> ReadNetwork(std::istream &in);
  void SaveNetwork(const char *fileName, TBasicNetwork &network);
  void WriteNetwork(std::ostream &out, TBasicNetwork &network);

  // ---- membership-function sections (SaveVemo.cpp)
  void ReadMembershipSection(std::istream &in, TBasicLayer *layer,
                             const std::string &sectionKeyword);
  void WriteInputMFSection(std::ostream &out, TConditionLayer &layer);
  void WriteOutputMFSection(std::ostream &out, TVemoOutputLayer &layer);

  // ---- data-set file (Filer.cpp)
  int32_t LoadTrainingSet(const char *fileName, std::unique_ptr<Data> &table);
  int32_t LoadDataSet(const char *fileName, std::unique_ptr<Data> &first,
                      std::unique_ptr<Data> &second);
  int32_t LoadDataSetChunk(const char *fileName, int64_t &offset, int32_t rows,
                           std::unique_ptr<Data> &first, std::unique_ptr<Data> &second);
  int32_t ReadDataSetHeader(std::istream &in, DataSetCounts &counts, Statement &ended);
  std::unique_ptr<TLabelList> ReadLabels(std::istream &in);
  // Replaces the file through SafeSave; kDataSetCannotOpen when that fails,
  // kDataSetInconsistent for tables the readers would refuse as too large.
  int32_t SaveDataSet(const char *fileName, Data *first, Data *second);
  // The whole data-set file; raises Error when the tables disagree or are
  // too large for the readers.
  void WriteDataSet(std::ostream &out, Data *first, Data *second);
  int32_t WriteDataSetHeader(const char *fileName, int32_t inputs, int32_t expectedOutputs,
                             int32_t generatedOutputs, int32_t errors, int32_t rows);
  int32_t WriteDataSetRows(const char *fileName, Data *first, Data *second);
  int32_t WriteDataSetTrailer(const char *fileName);
  void WriteLabels(std::ostream &out, const TLabelList &labels);
  std::unique_ptr<TKQstructure> ProbeFile(const char *fileName);

private:
  void WriteHeader(std::ostream &out, int32_t inputs, int32_t expectedOutputs,
                   int32_t generatedOutputs, int32_t errors, int32_t rows);
  void WriteRows(std::ostream &out, Data *first, Data *second, int32_t rows);
  void WriteTrailer(std::ostream &out);

  char tokenBuffer[kTokenBufferSize] = {};
};

} // namespace kestrane

#endif
