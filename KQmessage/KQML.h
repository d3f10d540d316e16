#ifndef KESTRANE_KQMESSAGE_KQML_H
#define KESTRANE_KQMESSAGE_KQML_H

// TKQstructure: a head word followed by ordered keyword/value pairs whose values
// are structures again. Numbers and flags travel as text and are converted when
// read. Text form: a leaf is its head word; otherwise
//   (head :keyword value :keyword value ...)

#include "KQmessage/KestraneError.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrane {

class TKQstructure {
public:
  // A malformed or mistyped message. Carries the error reply, a structure whose
  // head is "error" and whose "type" pair says what was wrong.
  class Error : public TKestraneError {
  public:
    explicit Error(std::unique_ptr<TKQstructure> reply);
    const TKQstructure &GetReply() const { return *reply_; }
    // The reply's text form.
    const char *what() const noexcept override { return text_.c_str(); }

  private:
    std::shared_ptr<const TKQstructure> reply_; // shared so the exception copies cheaply
    std::string text_;
  };

  static constexpr int32_t kInitialCapacity = 16;
  // Deeper text is rejected by Parse rather than risking the stack.
  static constexpr int kMaxParseDepth = 200;

  TKQstructure();
  explicit TKQstructure(const char *head);
  explicit TKQstructure(const std::string &head);
  TKQstructure(const TKQstructure &other);
  TKQstructure &operator=(const TKQstructure &other);
  ~TKQstructure();

  const std::string &GetHead() const { return head_; }
  void SetHead(const std::string &head) { head_ = head; }
  int32_t GetCount() const { return static_cast<int32_t>(pairs_.size()); }
  int32_t GetCapacity() const { return capacity_; }
  bool IsLeaf() const { return pairs_.empty(); }
  // Pairs in insertion order (0 <= index < GetCount()).
  const std::string &GetKeyword(int32_t index) const;
  const TKQstructure &GetValue(int32_t index) const;

  // Stores newval under keyword (replacing the value of an existing keyword,
  // which keeps its first spelling) and returns it; newval must be present.
  TKQstructure *Set(const char *keyword, std::unique_ptr<TKQstructure> newval);
  // The value of the last pair with that keyword, or nullptr.
  TKQstructure *Find(const char *keyword);
  const TKQstructure *Find(const char *keyword) const;
  // Like Find; a missing keyword is an internal error.
  TKQstructure &Get(const char *keyword);
  const TKQstructure &Get(const char *keyword) const;
  // Removes the first pair with that keyword; the last pair takes its place.
  void Remove(const char *keyword);

  TKQstructure *SetWord(const char *keyword, const char *text);
  TKQstructure *SetInteger(const char *keyword, int32_t value); // "%ld"
  TKQstructure *SetNumber(const char *keyword, double value);   // "%f"
  TKQstructure *SetBoolean(const char *keyword, bool value);    // "true" / "false"

  // Typed readers of a leading number or a flag; bad text raises Error.
  static long ParseInteger(const char *text);
  static double ParseNumber(const char *text);
  static bool ParseBoolean(const char *text);
  // For text the program wrote itself: bad text is an internal error.
  static long ParseIntegerStrict(const char *text);
  static double ParseNumberStrict(const char *text);

  // The value of keyword; raises Error when it is absent.
  const TKQstructure &Require(const char *keyword) const;
  // Raises Error when keyword is absent, or when expected is not empty and
  // differs (ignoring case) from the value's head.
  void CheckValue(const char *keyword, const char *expected) const;
  // (error :type <type>)
  static std::unique_ptr<TKQstructure> MakeError(const char *type);

  std::string ToString() const;
  void Print() const;     // text form on standard output
  void PrintLine() const; // Print, then end of line

  // Builds a structure from its whole text form; nullptr when the text is not
  // one well-formed structure (nothing half-built is handed out).
  static std::unique_ptr<TKQstructure> Parse(const char *text);
  static std::unique_ptr<TKQstructure> Parse(const std::string &text) {
    return Parse(text.c_str());
  }

  // Words 1 to n-1 (the first is skipped), each followed by one blank.
  static std::string JoinWords(int n, const char *const *words);

private:
  using Pair = std::pair<std::string, std::unique_ptr<TKQstructure>>;

  int32_t FindLast(const char *keyword) const;
  void AppendTo(std::string &out) const;

  std::string head_;
  std::vector<Pair> pairs_;
  // Position of each pair by its upper-cased keyword (keywords are unique
  // ignoring case), so that a message with many pairs parses in linear time.
  std::unordered_map<std::string, int32_t> index_;
  int32_t capacity_;
};

} // namespace kestrane

#endif
