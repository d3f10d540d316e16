// The parameter file reader on arbitrary bytes: it must return a message or
// settings, never crash, hang or throw.

#include "Boot/ParameterFile.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  kestrane::RunSettings settings;
  std::istringstream in(text);
  kestrane::LoadParameters(in, settings);
  return 0;
}
