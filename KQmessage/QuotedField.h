#ifndef KESTRANE_KQMESSAGE_QUOTEDFIELD_H
#define KESTRANE_KQMESSAGE_QUOTEDFIELD_H

// A field of a file as a message quotes it. The field may be a whole line of
// a hostile file: a hundred megabytes, a quoted CSV value with thousands of
// line breaks, escape sequences for the terminal. The quote keeps the message
// one short line whatever the field holds.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane {

// Characters of a field a message shows; a longer field ends in an ellipsis.
inline constexpr size_t kQuotedFieldLength = 60;

// `field` between double quotes: at most kQuotedFieldLength characters of it
// (UTF-8 sequences kept whole), then an ellipsis when there was more; control
// characters as escapes (\n, \r, \t, \x1b).
std::string QuotedField(std::string_view field);

} // namespace kestrane

#endif
