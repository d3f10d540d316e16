#ifndef KESTRANE_BOOT_KESTRANEAPP_H
#define KESTRANE_BOOT_KESTRANEAPP_H

namespace kestrane {

// The whole program behind main: checks the command line, reads and validates
// the parameter file, then runs the training. Returns the exit status: 1 as
// well when something it wrote to standard output did not arrive.
int KestraneMain(int argc, char **argv);

} // namespace kestrane

#endif
