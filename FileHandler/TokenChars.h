#ifndef KESTRANE_FILEHANDLER_TOKENCHARS_H
#define KESTRANE_FILEHANDLER_TOKENCHARS_H

// The character classes of the bracketed text formats, shared by the
// statement reader and the data-set reader's fast path.

namespace kestrane {
namespace tokenchars {

// Characters count as signed bytes: everything below 33 (including 128-255),
// DEL and the comma separate tokens.
inline bool IsSeparator(int c) {
  const signed char s = static_cast<signed char>(c);
  return s < 33 || s == 127 || s == ',';
}

// Characters that end a word: brackets, comment marks, "=", "<" and ">".
inline bool IsSpecial(int c) {
  return c == '[' || c == ']' || c == '/' || c == '*' || c == '=' || c == '<' || c == '>';
}

} // namespace tokenchars
} // namespace kestrane

#endif
