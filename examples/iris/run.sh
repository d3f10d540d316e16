#!/bin/sh
# The main job: builds Kestrane and kestrane-tool if needed, trains the
# example network on the training rows and prints its accuracy on the
# held-out rows. Usage: examples/iris/run.sh
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KESTRANE_BUILD_DIR:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  # A fresh clone: the programs alone need no test framework.
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRANE_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target Kestrane kestrane-tool >/dev/null
cd "$here"
"$build/Kestrane" iris.param
"$build/kestrane-tool" eval iris-trained.wgt iris-test.dat --ranges iris.ranges
