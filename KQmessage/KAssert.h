#ifndef KESTRANE_KQMESSAGE_KASSERT_H
#define KESTRANE_KQMESSAGE_KASSERT_H

// The project's one assertion. Unlike assert() it stays active in every build
// type: an internal invariant that fails must stop the program, Release too.
// The build maps __FILE__ to the path relative to the repository root.

namespace kestrane {

[[noreturn]] void AssertionFailed(const char *expression, const char *file, int line);

} // namespace kestrane

#define KASSERT(expr)                                                                              \
  ((expr) ? static_cast<void>(0) : ::kestrane::AssertionFailed(#expr, __FILE__, __LINE__))

// Fail with a chosen expression text (for example "false" for an operation a
// class does not support) while keeping the caller's file and line.
#define KASSERT_TEXT(cond, text)                                                                   \
  ((cond) ? static_cast<void>(0) : ::kestrane::AssertionFailed(text, __FILE__, __LINE__))

#endif
