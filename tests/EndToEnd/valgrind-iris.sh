#!/bin/sh
# A full training run of the shipped example under valgrind memcheck: any
# memory error or definite/indirect leak fails it.
# Usage: valgrind-iris.sh VALGRIND KESTRANE SOURCE_DIR
set -eu
valgrind=$1
kestrane=$2
example=$3/examples/iris
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrane_valgrind_XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$example"/iris.param "$example"/iris-initial.wgt "$example"/iris-*.dat "$work"/
cd "$work"
"$valgrind" -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  "$kestrane" iris.param >run.log 2>&1 || { cat run.log; exit 1; }
cat run.log
grep -q '^Error = ' run.log
test -s iris-trained.wgt
