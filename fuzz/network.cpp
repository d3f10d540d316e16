// The network file reader on arbitrary bytes: a network or a clear error.
// Whatever the reader accepts must write, read back and write again to the
// same text, and save to a file that loads back to it; a Vemo must also
// survive one forward pass.

#include "FileHandler/ParseTools.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"
#include "Vemo/TVemo.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Write(kestrane::FileTools &tools, kestrane::TBasicNetwork &network) {
  std::ostringstream out;
  tools.WriteNetwork(out, network);
  return out.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
  kestrane::FileTools tools;
  std::unique_ptr<kestrane::TBasicNetwork> network;
  try {
    network = tools.ReadNetwork(in);
  } catch (const kestrane::FileTools::Error &) {
  } catch (const kestrane::TException &) {
  }
  if (!network)
    return 0;

  // The round trip; a failure here is a finding, so nothing is caught.
  const std::string first = Write(tools, *network);
  std::istringstream again(first);
  std::unique_ptr<kestrane::TBasicNetwork> reread = tools.ReadNetwork(again);
  if (!reread)
    std::abort();
  const std::string second = Write(tools, *reread);
  if (first != second) {
    std::fprintf(stderr, "round trip differs:\n--- first\n%s\n--- second\n%s\n", first.c_str(),
                 second.c_str());
    std::abort();
  }

  // The same through a saved file.
  static const std::string file = [] {
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/kestrane-fuzz-" + std::to_string(getpid()) +
           ".wgt";
  }();
  tools.SaveNetwork(file.c_str(), *network);
  std::unique_ptr<kestrane::TBasicNetwork> loaded = tools.LoadNetwork(file.c_str());
  std::remove(file.c_str());
  if (!loaded || Write(tools, *loaded) != first)
    std::abort();

  if (dynamic_cast<kestrane::TVemo *>(network.get())) {
    std::vector<double> input(static_cast<size_t>(network->GetNumInputs()), 0.0);
    std::vector<double> output(static_cast<size_t>(network->GetNumOutputs()) + 1, 0.0);
    try {
      network->Recall(input.data(), output.data());
    } catch (const kestrane::TException &) {
    }
  }
  return 0;
}
