#include "KQmessage/QuotedField.h"

#include <cstdio>

namespace kestrane {

std::string QuotedField(std::string_view field) {
  std::string text = "\"";
  size_t characters = 0;
  size_t at = 0;
  for (; at < field.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(field[at]);
    const bool continuation = (c & 0xC0) == 0x80;
    if (!continuation && characters++ == kQuotedFieldLength)
      break;
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\r') {
      text += "\\r";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      text += escape;
    } else {
      text += static_cast<char>(c);
    }
  }
  if (at < field.size())
    text += "\xe2\x80\xa6";
  return text + "\"";
}

} // namespace kestrane
