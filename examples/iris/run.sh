#!/bin/sh
# The main job: builds Kestrane and kestrane-tool if needed, trains the
# example network on the training rows and prints its accuracy on the
# held-out rows. Usage: examples/iris/run.sh
#
# The programs are built in a folder of their own (build-example/, or
# KESTRANE_BUILD_DIR), without the tests: the test build in build/ keeps its
# own settings, so the two work in either order.
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KESTRANE_BUILD_DIR:-$root/build-example}
# The Debian packages the build needs, installed when missing (tools/needs.sh).
"$root/tools/needs.sh"
echo "building Kestrane and kestrane-tool in $build (a minute or two the first time)..." >&2
"$root/tools/configure.sh" "$root" "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRANE_BUILD_TESTS=OFF \
  -DKESTRANE_PYTHON=OFF >/dev/null
cmake --build "$build" -j2 --target Kestrane kestrane-tool >/dev/null
echo "training on the example's training rows..." >&2
cd "$here"
"$build/Kestrane" iris.param
"$build/kestrane-tool" eval iris-trained.wgt iris-test.dat --ranges iris.ranges
