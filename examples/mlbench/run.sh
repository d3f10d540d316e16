#!/bin/sh
# Four of R's mlbench tables, exported by R's write.csv as they are (text
# columns, missing values as NA, an ID column, the class not always last),
# taken through kestrane-tool with no preprocessing, each step one command:
# import -> create -> Kestrane -> eval -> predict -> rules, and cv.
#
# Usage: examples/mlbench/run.sh [FOLDER]
# Works in FOLDER (default: a new temporary folder) and prints every command
# before running it. Needs Rscript with the mlbench package (Debian:
# r-base-core r-cran-mlbench). The programs are built as examples/iris/run.sh
# builds them (build-example/, or KESTRANE_BUILD_DIR).
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KESTRANE_BUILD_DIR:-$root/build-example}
work=${1:-$(mktemp -d)}
mkdir -p "$work"
"$root/tools/needs.sh"
if ! Rscript -e 'library(mlbench)' >/dev/null 2>&1; then
  echo "needs R's mlbench: apt-get install r-base-core r-cran-mlbench" >&2
  exit 1
fi
echo "building Kestrane and kestrane-tool in $build..." >&2
"$root/tools/configure.sh" "$root" "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRANE_BUILD_TESTS=OFF \
  -DKESTRANE_PYTHON=OFF >/dev/null
cmake --build "$build" -j2 --target Kestrane kestrane-tool >/dev/null
cd "$work"
PATH="$build:$PATH"
export PATH

# Prints the command (on standard error, so that a pipe after it sees only
# its output), then runs it.
run() {
  echo "\$ $*" >&2
  "$@"
}

# One set: its name in mlbench, the output prefix, then the column options
# import and cv need (which column is the class, which to leave out).
one_set() {
  set_name=$1
  prefix=$2
  shift 2
  echo
  echo "== $set_name"
  run Rscript -e "library(mlbench); data($set_name); write.csv($set_name, '$set_name.csv', row.names = FALSE)"
  run kestrane-tool import "$set_name.csv" "$@" --holdout 0.3 -o "$prefix" | tee "$prefix-import.txt"
  # import ends with the create command that fits the data.
  create=$(sed -n 's/^Next: kestrane-tool //p' "$prefix-import.txt")
  # shellcheck disable=SC2086 # the printed command's words
  run kestrane-tool $create --seed 1
  run Kestrane "$prefix.param"
  run kestrane-tool eval "$prefix-trained.wgt" "$prefix-test.dat" --ranges "$prefix.ranges" |
    sed -n '1,3p'
  run kestrane-tool predict "$prefix-trained.wgt" "$set_name.csv" --ranges "$prefix.ranges" \
    -o "$prefix-answers.csv"
  run kestrane-tool rules "$prefix-trained.wgt" --ranges "$prefix.ranges" --data "$prefix.param" |
    sed '/^Permutation importance/,$d'
  run kestrane-tool cv "$set_name.csv" "$@" | tail -n 9
}

one_set HouseVotes84 votes --class Class
one_set Soybean soybean --class Class
one_set BreastCancer cancer --drop Id
one_set Zoo zoo
