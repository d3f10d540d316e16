#include "Boot/KestraneApp.h"

#include "Boot/ParameterFile.h"
#include "Boot/RunSettings.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace kestrane {

int KestraneMain(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "Usage: Kestrane parameter.file" << std::endl;
    return 1;
  }

  RunSettings settings;
  {
    std::ifstream file(argv[1]);
    // A directory opens as a stream that reads nothing; it is no parameter file.
    std::error_code ignored;
    if (!file || std::filesystem::is_directory(argv[1], ignored)) {
      std::cerr << "Unable to open file " << argv[1] << std::endl;
      return 1;
    }
    const std::string message = LoadParameters(file, settings);
    if (!message.empty()) {
      std::cerr << message << std::endl;
      return 1;
    }
  }

  // ---- The run: load the network, load the class tables, select features,
  // seed the generator (settings.seed when settings.hasSeed, else the clock),
  // bootstrap training, "Error = " line, save, release. Wired in with the
  // training code.

  return 0;
}

} // namespace kestrane
