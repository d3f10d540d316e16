#include "KQmessage/KQML.h"

#include "KQmessage/Diagnostics.h"
#include "KQmessage/KAssert.h"
#include "KQmessage/TException.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace kestrane {

namespace {

std::unique_ptr<TKQstructure> Leaf(const char *text) {
  return std::make_unique<TKQstructure>(text);
}

// A "%ld" conversion of the leading number; false when nothing converts or the
// number does not fit (a saturated value would be a wrong result).
bool ConvertInteger(const char *text, long &value) {
  char *end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return end != text && errno != ERANGE;
}

// A "%lf" conversion of the leading number.
bool ConvertNumber(const char *text, double &value) {
  char *end = nullptr;
  value = std::strtod(text, &end);
  return end != text;
}

std::string Format(const char *format, long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string FormatFixed(double value) {
  const int length = std::snprintf(nullptr, 0, "%f", value);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&text[0], text.size(), "%f", value);
  text.resize(static_cast<size_t>(length));
  return text;
}

// ---- Parse

bool IsPrintable(char c) { return c >= '!' && c <= '~'; }
bool IsSpecial(char c) { return c == '(' || c == ')' || c == ':'; }

class Reader {
public:
  explicit Reader(const char *text) : p_(text) {}

  // Next word: empty at end of text, a special character alone, or a run of
  // printable characters in which ':' belongs to the word.
  std::string Word() {
    while (*p_ != '\0' && !IsPrintable(*p_))
      ++p_;
    if (*p_ == '\0')
      return std::string();
    if (IsSpecial(*p_))
      return std::string(1, *p_++);
    const char *start = p_;
    while (IsPrintable(*p_) && (*p_ == ':' || !IsSpecial(*p_)))
      ++p_;
    return std::string(start, p_);
  }

  // A word that must be ordinary (neither empty nor special).
  bool OrdinaryWord(std::string &word) {
    word = Word();
    if (word.empty() || (word.size() == 1 && IsSpecial(word[0]))) {
      Diagnose(DiagnosticKind::kErrorText, "special character unexpected");
      return false;
    }
    return true;
  }

  std::unique_ptr<TKQstructure> Structure(int depth) {
    if (depth > TKQstructure::kMaxParseDepth) {
      Diagnose(DiagnosticKind::kErrorText, "structure nested too deeply");
      return nullptr;
    }
    std::string word = Word();
    if (word != "(") {
      if (word.empty() || (word.size() == 1 && IsSpecial(word[0]))) {
        Diagnose(DiagnosticKind::kErrorText, "special character unexpected");
        return nullptr;
      }
      return std::make_unique<TKQstructure>(word);
    }
    std::string head;
    if (!OrdinaryWord(head))
      return nullptr;
    auto result = std::make_unique<TKQstructure>(head);
    for (;;) {
      word = Word();
      if (word == ")")
        return result;
      if (word != ":")
        return nullptr;
      std::string keyword;
      if (!OrdinaryWord(keyword))
        return nullptr;
      std::unique_ptr<TKQstructure> value = Structure(depth + 1);
      if (!value)
        return nullptr;
      result->Set(keyword.c_str(), std::move(value));
    }
  }

private:
  const char *p_;
};

} // namespace

// ---- Error

TKQstructure::Error::Error(std::unique_ptr<TKQstructure> reply) {
  KASSERT_TEXT(reply != nullptr, "reply != NULL");
  text_ = reply->ToString();
  reply_ = std::move(reply);
}

// ---- construction

TKQstructure::TKQstructure() : head_("unknown"), capacity_(kInitialCapacity) {}

TKQstructure::TKQstructure(const char *head)
    : head_(head ? head : ""), capacity_(kInitialCapacity) {}

TKQstructure::TKQstructure(const std::string &head) : head_(head), capacity_(kInitialCapacity) {}

TKQstructure::TKQstructure(const TKQstructure &other)
    : head_(other.head_), capacity_(other.GetCount()) {
  pairs_.reserve(other.pairs_.size());
  for (const Pair &pair : other.pairs_)
    pairs_.emplace_back(pair.first, std::make_unique<TKQstructure>(*pair.second));
  index_ = other.index_;
}

TKQstructure &TKQstructure::operator=(const TKQstructure &other) {
  if (this == &other)
    return *this;
  // Copy first so that assigning a structure its own descendant stays sound.
  TKQstructure copy(other);
  head_ = std::move(copy.head_);
  pairs_ = std::move(copy.pairs_);
  index_ = std::move(copy.index_);
  capacity_ = copy.capacity_;
  return *this;
}

TKQstructure::~TKQstructure() = default;

const std::string &TKQstructure::GetKeyword(int32_t index) const {
  KASSERT(index >= 0 && index < GetCount());
  return pairs_[static_cast<size_t>(index)].first;
}

const TKQstructure &TKQstructure::GetValue(int32_t index) const {
  KASSERT(index >= 0 && index < GetCount());
  return *pairs_[static_cast<size_t>(index)].second;
}

// ---- pairs

namespace {

// The key under which the index files a keyword; equal exactly when
// strcasecmp finds the keywords equal.
std::string Folded(const char *keyword) {
  std::string key(keyword);
  for (char &c : key)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

// Below this many pairs a scan is cheaper than folding the keyword.
constexpr int32_t kScanLimit = 8;

} // namespace

int32_t TKQstructure::FindLast(const char *keyword) const {
  if (keyword == nullptr)
    return -1;
  if (GetCount() <= kScanLimit) {
    for (int32_t i = GetCount() - 1; i >= 0; --i)
      if (strcasecmp(pairs_[static_cast<size_t>(i)].first.c_str(), keyword) == 0)
        return i;
    return -1;
  }
  const auto found = index_.find(Folded(keyword));
  return found == index_.end() ? -1 : found->second;
}

TKQstructure *TKQstructure::Set(const char *keyword, std::unique_ptr<TKQstructure> newval) {
  KASSERT_TEXT(newval != nullptr, "newval != NULL");
  KASSERT_TEXT(keyword != nullptr, "keyword != NULL");
  TKQstructure *stored = newval.get();
  const int32_t index = FindLast(keyword);
  if (index >= 0) {
    pairs_[static_cast<size_t>(index)].second = std::move(newval);
    return stored;
  }
  if (GetCount() == capacity_)
    capacity_ = capacity_ * 2 < kInitialCapacity ? kInitialCapacity : capacity_ * 2;
  index_.emplace(Folded(keyword), GetCount());
  pairs_.emplace_back(keyword, std::move(newval));
  return stored;
}

TKQstructure *TKQstructure::Find(const char *keyword) {
  const int32_t index = FindLast(keyword);
  return index < 0 ? nullptr : pairs_[static_cast<size_t>(index)].second.get();
}

const TKQstructure *TKQstructure::Find(const char *keyword) const {
  const int32_t index = FindLast(keyword);
  return index < 0 ? nullptr : pairs_[static_cast<size_t>(index)].second.get();
}

TKQstructure &TKQstructure::Get(const char *keyword) {
  TKQstructure *value = Find(keyword);
  KASSERT_TEXT(value != nullptr, "val != NULL");
  return *value;
}

const TKQstructure &TKQstructure::Get(const char *keyword) const {
  const TKQstructure *value = Find(keyword);
  KASSERT_TEXT(value != nullptr, "val != NULL");
  return *value;
}

void TKQstructure::Remove(const char *keyword) {
  const int32_t index = FindLast(keyword); // keywords are unique: the first is the last
  if (index < 0)
    return;
  const size_t i = static_cast<size_t>(index);
  index_.erase(Folded(pairs_[i].first.c_str()));
  if (i + 1 != pairs_.size()) {
    pairs_[i] = std::move(pairs_.back());
    index_[Folded(pairs_[i].first.c_str())] = index;
  }
  pairs_.pop_back();
}

TKQstructure *TKQstructure::SetWord(const char *keyword, const char *text) {
  return Set(keyword, Leaf(text));
}

TKQstructure *TKQstructure::SetInteger(const char *keyword, int32_t value) {
  return Set(keyword, Leaf(Format("%ld", static_cast<long>(value)).c_str()));
}

TKQstructure *TKQstructure::SetNumber(const char *keyword, double value) {
  return Set(keyword, Leaf(FormatFixed(value).c_str()));
}

TKQstructure *TKQstructure::SetBoolean(const char *keyword, bool value) {
  return Set(keyword, Leaf(value ? "true" : "false"));
}

// ---- typed readers

long TKQstructure::ParseInteger(const char *text) {
  long value = 0;
  if (text == nullptr || !ConvertInteger(text, value)) {
    auto reply = MakeError("invalid-message");
    reply->SetWord("integer-expected", text ? text : "");
    throw Error(std::move(reply));
  }
  return value;
}

double TKQstructure::ParseNumber(const char *text) {
  double value = 0.0;
  if (text == nullptr || !ConvertNumber(text, value)) {
    auto reply = MakeError("invalid-message");
    reply->SetWord("number-expected", text ? text : "");
    throw Error(std::move(reply));
  }
  return value;
}

bool TKQstructure::ParseBoolean(const char *text) {
  if (text != nullptr && strcasecmp(text, "TRUE") == 0)
    return true;
  if (text != nullptr && strcasecmp(text, "FALSE") == 0)
    return false;
  auto reply = MakeError("type-error");
  reply->SetWord("expected", "boolean");
  throw Error(std::move(reply));
}

long TKQstructure::ParseIntegerStrict(const char *text) {
  long value = 0;
  const int err = (text != nullptr && ConvertInteger(text, value)) ? 1 : 0;
  KASSERT_TEXT(err == 1, "err == 1");
  return value;
}

double TKQstructure::ParseNumberStrict(const char *text) {
  double value = 0.0;
  const int err = (text != nullptr && ConvertNumber(text, value)) ? 1 : 0;
  KASSERT_TEXT(err == 1, "err == 1");
  return value;
}

// ---- checks and replies

const TKQstructure &TKQstructure::Require(const char *keyword) const {
  const TKQstructure *value = Find(keyword);
  if (value == nullptr) {
    auto reply = MakeError("invalid-message");
    reply->SetWord("expected", keyword ? keyword : "");
    throw Error(std::move(reply));
  }
  return *value;
}

void TKQstructure::CheckValue(const char *keyword, const char *expected) const {
  const TKQstructure &value = Require(keyword);
  if (expected == nullptr || *expected == '\0')
    return;
  if (strcasecmp(value.head_.c_str(), expected) == 0)
    return;
  auto reply = MakeError("invalid-message");
  reply->SetWord("tag", keyword);
  reply->SetWord("expected-value", expected);
  throw Error(std::move(reply));
}

std::unique_ptr<TKQstructure> TKQstructure::MakeError(const char *type) {
  auto reply = std::make_unique<TKQstructure>("error");
  reply->SetWord("type", type ? type : "");
  return reply;
}

// ---- text form

void TKQstructure::AppendTo(std::string &out) const {
  // Iterative so that printing never recurses deeper than the tree allows
  // to be built.
  struct Frame {
    const TKQstructure *node;
    size_t next;
  };
  std::vector<Frame> stack;
  auto open = [&](const TKQstructure *node) {
    if (node->pairs_.empty()) {
      out += node->head_;
      return;
    }
    out += '(';
    out += node->head_;
    stack.push_back({node, 0});
  };
  open(this);
  while (!stack.empty()) {
    Frame &top = stack.back();
    if (top.next == top.node->pairs_.size()) {
      out += ')';
      stack.pop_back();
      continue;
    }
    const Pair &pair = top.node->pairs_[top.next++];
    out += " :";
    out += pair.first;
    out += ' ';
    open(pair.second.get());
  }
}

std::string TKQstructure::ToString() const {
  std::string out;
  AppendTo(out);
  return out;
}

void TKQstructure::Print() const { std::cout << ToString(); }

void TKQstructure::PrintLine() const {
  Print();
  std::cout << std::endl;
}

std::unique_ptr<TKQstructure> TKQstructure::Parse(const char *text) {
  if (text == nullptr)
    return nullptr;
  Reader reader(text);
  std::unique_ptr<TKQstructure> result = reader.Structure(0);
  if (!result)
    return nullptr;
  if (!reader.Word().empty())
    return nullptr; // text after the structure
  return result;
}

std::string TKQstructure::JoinWords(int n, const char *const *words) {
  std::string joined;
  for (int i = 1; i < n; ++i) {
    joined += words[i] ? words[i] : "";
    joined += ' ';
  }
  return joined;
}

} // namespace kestrane
