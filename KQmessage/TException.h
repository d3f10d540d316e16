#ifndef KESTRANE_KQMESSAGE_TEXCEPTION_H
#define KESTRANE_KQMESSAGE_TEXCEPTION_H

#include "KQmessage/KestraneError.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace kestrane {

class TKQstructure;

// Case-insensitive comparison used for every keyword of the system. It lives in
// the project namespace so that the C library's strcasecmp (whose results are
// any negative or positive number) can neither clash with it nor shadow it.
// Returns exactly -1, 0 or 1.
int strcasecmp(const char *a, const char *b);

inline constexpr const char *kBadParameter = "Bad Parameter";
inline constexpr const char *kNullPointerParameter = "Null Pointer Parameter";

// Argument and null-pointer errors of public library operations.
class TException : public TKestraneError {
public:
  TException() = default;
  TException(const char *message, const char *category);
  TException(const char *message, const char *category, const char *functionName,
             std::shared_ptr<TKQstructure> details = nullptr);

  const char *what() const noexcept override;
  // Its message, its category and its function name, one a line.
  std::string Report() const override;
  std::string Line() const override;

  bool HasCategory() const { return category_.has_value(); }
  bool HasFunctionName() const { return function_.has_value(); }
  // Absent texts read as empty.
  const std::string &GetMessage() const;
  const std::string &GetCategory() const;
  const std::string &GetFunctionName() const;
  const TKQstructure *GetDetails() const { return details_.get(); }

private:
  std::optional<std::string> message_;
  std::optional<std::string> category_;
  std::optional<std::string> function_;
  std::shared_ptr<TKQstructure> details_;
};

} // namespace kestrane

#endif
