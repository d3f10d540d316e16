#!/bin/sh
# Builds everything in build/ and runs the tests: the README's test command.
# Installs the Debian packages the build needs first (tools/needs.sh).
# Arguments go to ctest (for example -LE valgrind).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/needs.sh" tests
cd "$root"
tools/configure.sh . build
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure --no-tests=error "$@"
