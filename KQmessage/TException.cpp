#include "KQmessage/TException.h"

#include <cctype>

namespace kestrane {

namespace {
const std::string kEmpty;

std::optional<std::string> CopyOrAbsent(const char *text) {
  if (text == nullptr)
    return std::nullopt;
  return std::string(text);
}
} // namespace

int strcasecmp(const char *a, const char *b) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(a);
  const unsigned char *q = reinterpret_cast<const unsigned char *>(b);
  for (;; ++p, ++q) {
    const int ca = std::toupper(*p);
    const int cb = std::toupper(*q);
    if (ca != cb)
      return ca < cb ? -1 : 1;
    if (ca == 0)
      return 0;
  }
}

TException::TException(const char *message, const char *category)
    : message_(CopyOrAbsent(message)), category_(CopyOrAbsent(category)) {}

TException::TException(const char *message, const char *category, const char *functionName,
                       std::shared_ptr<TKQstructure> details)
    : message_(CopyOrAbsent(message)), category_(CopyOrAbsent(category)),
      function_(CopyOrAbsent(functionName)), details_(std::move(details)) {}

const char *TException::what() const noexcept { return message_ ? message_->c_str() : ""; }

std::string TException::Report() const {
  return GetMessage() + "\n" + GetCategory() + "\n" + GetFunctionName();
}

std::string TException::Line() const {
  return GetMessage() + " (" + GetCategory() + ", " + GetFunctionName() + ")";
}

const std::string &TException::GetMessage() const { return message_ ? *message_ : kEmpty; }
const std::string &TException::GetCategory() const { return category_ ? *category_ : kEmpty; }
const std::string &TException::GetFunctionName() const { return function_ ? *function_ : kEmpty; }

} // namespace kestrane
