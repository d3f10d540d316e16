// TKQstructure::Parse on arbitrary text. A structure that parses must print
// as text that parses back to the same structure.

#include "KQmessage/KQML.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using kestrane::TKQstructure;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const std::unique_ptr<TKQstructure> parsed = TKQstructure::Parse(text);
  if (!parsed)
    return 0;
  const std::string printed = parsed->ToString();
  const std::unique_ptr<TKQstructure> again = TKQstructure::Parse(printed);
  if (!again || again->ToString() != printed) {
    std::fprintf(stderr, "text form does not read back: %s\n", printed.c_str());
    std::abort();
  }
  TKQstructure copy(*parsed);
  if (copy.ToString() != printed)
    std::abort();
  return 0;
}
