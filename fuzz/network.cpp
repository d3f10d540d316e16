// The network file reader on arbitrary bytes: a network or a clear error.

#include "FileHandler/ParseTools.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
  kestrane::FileTools tools;
  try {
    std::unique_ptr<kestrane::TBasicNetwork> network = tools.ReadNetwork(in);
    if (network) {
      std::ostringstream out;
      tools.WriteNetwork(out, *network);
    }
  } catch (const kestrane::FileTools::Error &) {
  } catch (const kestrane::TException &) {
  }
  return 0;
}
