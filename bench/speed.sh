#!/bin/sh
# The speed figures of the README in one command:
#   - the six training ratios of bench/full-run.sh --ratios (against BASELINE);
#   - kestrane-tool import of a generated CSV of 10^6 rows x 20 features and
#     3 classes: seconds and peak resident MB;
#   - kestrane-tool predict on the same file (20 inputs, 23 rules);
#   - kestrane-tool cv of the 12-combination iris grid (--rules 4,7,10
#     --learning-rate 0.05,0.1 --input-mfs 3,4) with --jobs 1 and --jobs 2,
#     whose outputs must be identical;
#   - Python FuzzyClassifier.predict rows per second beside scikit-learn's
#     MLPClassifier(hidden_layer_sizes=(20,)) (bench/python-predict.py), when
#     BUILD holds the Python module (-DKESTRANE_PYTHON=ON).
# Seconds are wall clock and, in brackets, the CPU time (user + system) of the
# process: on a busy machine the second is the steadier one.
#
# Usage: bench/speed.sh [BUILD_DIR] [BASELINE_BUILD_DIR]
#   BUILD_DIR defaults to build/. BASELINE_BUILD_DIR defaults to
#   build-674ebf3/, which is built from that commit (a detached git worktree
#   in .bench-674ebf3/, Release, the two programs only) when it is missing.
# SKIP_RATIOS=1 leaves out the training ratios (minutes); RUNS is passed on
# to full-run.sh. The table at the end pastes into the README.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
baseline=${2:-$root/build-674ebf3}
tool=$build/kestrane-tool
work=$(mktemp -d)
[ -n "$KEEP" ] || trap 'rm -rf "$work"' EXIT

if [ "${SKIP_RATIOS:-0}" != 1 ] && [ ! -x "$baseline/Kestrane" ]; then
  [ -z "$2" ] || { echo "$baseline/Kestrane: no such program" >&2; exit 1; }
  echo "Building the baseline (commit 674ebf3) in $baseline ..." >&2
  source=$root/.bench-674ebf3
  [ -d "$source" ] || git -C "$root" worktree add --detach "$source" 674ebf3 >&2
  cmake -S "$source" -B "$baseline" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$baseline" -j2 --target Kestrane kestrane-tool > /dev/null
fi

if [ "${SKIP_RATIOS:-0}" != 1 ]; then
  echo "Training, whole Kestrane runs (bench/full-run.sh --ratios $baseline):"
  "$root/bench/full-run.sh" --ratios "$baseline" "$build"
  echo
fi

# timed LABEL COMMAND...: runs the command, keeps "wall cpu peak-MB" in $work/LABEL.
timed() {
  label=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/$label.time" "$@" > "$work/$label.out"
  awk '{ printf "%.2f %.2f %.0f\n", $1, $2 + $3, $4 / 1024 }' "$work/$label.time" > "$work/$label"
}
seconds() { awk '{ printf "%.2f s (%.2f s CPU)", $1, $2 }' "$work/$1"; }

# Features scattered around a class-dependent level, seeded: 183 MB of text.
awk -v n=1000000 -v f=20 'BEGIN {
  srand(7);
  for (i = 0; i < f; i++) printf "x%d,", i;
  print "class";
  for (r = 0; r < n; r++) {
    c = int(rand() * 3);
    for (i = 0; i < f; i++) printf "%.6f,", c * 0.3 + rand();
    print "k" c;
  }
}' > "$work/big.csv"

timed import "$tool" import "$work/big.csv" -o "$work/big"
"$tool" create --inputs 20 --rules 23 --outputs 3 --seed 5 -o "$work/big.wgt" > /dev/null
timed predict "$tool" predict "$work/big.wgt" "$work/big.csv" --ranges "$work/big.ranges" \
  -o "$work/big-predicted.csv"

grid="--rules 4,7,10 --learning-rate 0.05,0.1 --input-mfs 3,4"
for jobs in 1 2; do
  # shellcheck disable=SC2086
  timed "cv$jobs" "$tool" cv "$root/examples/iris/iris.csv" $grid --jobs "$jobs"
done
cmp -s "$work/cv1.out" "$work/cv2.out" || { echo "cv: --jobs 1 and --jobs 2 DIFFER"; exit 1; }

python=
if [ -d "$build/python/kestrane" ]; then
  python=$(PYTHONPATH=$build/python /usr/bin/python3 "$root/bench/python-predict.py")
fi

echo "| measure | $(date -u +%Y-%m-%d) |"
echo "|---|---|"
echo "| import, 10^6 rows × 20 features (183 MB CSV) | $(seconds import), peak $(awk '{ print $3 }' "$work/import") MB |"
echo "| predict, the same file | $(seconds predict), peak $(awk '{ print $3 }' "$work/predict") MB |"
echo "| cv, 12-combination iris grid, --jobs 1 | $(seconds cv1) |"
echo "| cv, the same, --jobs 2 | $(seconds cv2) |"
if [ -n "$python" ]; then
  echo "| Python predict, 100,000 rows × 4 features | $(echo "$python" | sed 's/.*: //') |"
else
  echo "| Python predict | (no Python module in $build) |"
fi
