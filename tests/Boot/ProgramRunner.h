#ifndef KESTRANE_TESTS_BOOT_PROGRAMRUNNER_H
#define KESTRANE_TESTS_BOOT_PROGRAMRUNNER_H

// Runs the built program in a shell and collects what it wrote.

#include "tests/Support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace programtest {

using testsupport::ScratchDir;
using testsupport::Slurp;

// Every process writes into a scratch folder of its own, removed when it exits.
inline std::string TempPath(const std::string &name) {
  static ScratchDir dir;
  static int counter = 0;
  return dir.Path() + "/" + std::to_string(counter++) + "_" + name;
}

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Runs the built program with the given argument text (already quoted).
inline RunResult RunProgram(const std::string &arguments) {
  const std::string out = TempPath("out.txt");
  const std::string err = TempPath("err.txt");
  const std::string command =
      std::string("'") + KESTRANE_BINARY + "' " + arguments + " >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return result;
}

inline std::string WriteFile(const std::string &name, const std::string &text) {
  const std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

} // namespace programtest

#endif
