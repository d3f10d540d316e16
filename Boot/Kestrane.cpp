#include "Boot/KestraneApp.h"
#include "FileHandler/CheckedOutput.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char **argv) {
  kestrane::ReserveStandardDescriptors();
  kestrane::CheckedOutput output(std::cout, "standard output");
  return output.Finish(kestrane::KestraneMain(argc, argv), std::cerr, STDOUT_FILENO);
}
