#!/bin/sh
# Configures the CMake build in BUILD_DIR unless an earlier configure there
# completed; a configure that failed (a CMakeCache.txt and no Makefile, say
# because a package was missing) is started afresh.
# Usage: tools/configure.sh SOURCE_DIR BUILD_DIR [cmake options...]
set -e
source=$1
build=$2
shift 2
if [ -f "$build/Makefile" ] || [ -f "$build/build.ninja" ]; then
  exit 0 # the build step re-runs CMake itself when its files change
fi
rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
cmake -S "$source" -B "$build" "$@"
