#!/bin/sh
# Times whole Kestrane runs (parameter file, loading, every bootstrap round,
# saving) on three network sizes, on-line and batch:
#   small  4 inputs x 3 functions, 12 rules, 3 outputs x 3  (3 classes)
#   medium 13 x 3, 40 rules, 3 x 3                          (3 classes)
#   large  30 x 4, 100 rules, 2 x 5                         (2 classes)
# Each class gets ROWS rows (default 300) of seeded pseudo-random data.
#
# Usage: bench/full-run.sh [BUILD_DIR] [OTHER_BUILD_DIR]
# With a second build directory both programs run on the same files, their
# times are printed side by side and their outputs must be byte-identical.
# MEMORY=1 also reports the peak resident size of each run (/usr/bin/time -v).
#
# bench/full-run.sh --ratios BASELINE_BUILD [BUILD_DIR]
# runs both programs RUNS times (default 5) by turns on every case, checks
# that their outputs are byte-identical, and prints the median times, the
# speed-up over the baseline and the ratio to the hand-written reference
# kernel: the kernel's measured ratio to the baseline (build of 674ebf3)
# divided by the speed-up. Meaningful only when BASELINE_BUILD is that build.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
ratios=
if [ "$1" = --ratios ]; then
  ratios=1
  baseline=$2
  build=${3:-$root/build}
  [ -n "$baseline" ] || { echo "--ratios needs the baseline build directory" >&2; exit 1; }
  other=
else
  build=${1:-$root/build}
  other=${2:-}
fi
rows=${ROWS:-300}
work=$(mktemp -d)
[ -n "$KEEP" ] || trap 'rm -rf "$work"' EXIT

# A data-set file of class c of k: inputs scattered around a class-dependent
# level, one-hot targets.
dataset() { # file inputs outputs class seed
  awk -v n="$rows" -v ni="$2" -v out="$3" -v c="$4" -v seed="$5" 'BEGIN {
    srand(seed);
    printf "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = %d]\n[Inputs = %d]\n", n, ni;
    printf "[ExpectedOutputs = %d]\n[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n", out;
    for (r = 0; r < n; r++) {
      for (i = 0; i < ni; i++) {
        level = (i % 2 == 0) ? c / (out - 1) : 1 - c / (out - 1);
        printf "%.6f ", 0.6 * level + 0.4 * rand();
      }
      printf "  ";
      for (o = 0; o < out; o++) printf "%d ", (o == c);
      printf "\n";
    }
    printf "[~Data]\n\n[~DataSet]\n";
  }' > "$1"
}

# name inputs input-mfs rules outputs output-mfs epochs
setup() {
  "$build/kestrane-tool" create --inputs "$2" --input-mfs "$3" --rules "$4" --outputs "$5" \
    --output-mfs "$6" --seed 3 -o "$work/$1.wgt" >/dev/null
  c=0
  while [ "$c" -lt "$5" ]; do
    dataset "$work/$1-$c.dat" "$2" "$5" "$c" "$((c + 11))"
    c=$((c + 1))
  done
}

params() { # name classes epochs batch destination
  {
    echo "WeightFile = $work/$1.wgt"
    echo "DestinationFile = $5"
    echo "#DataClasses = $2"
    c=0
    while [ "$c" -lt "$2" ]; do echo "DataFile = $work/$1-$c.dat"; c=$((c + 1)); done
    c=0
    while [ "$c" -lt "$2" ]; do echo "Examples = $rows"; c=$((c + 1)); done
    echo "Epochs = $3"
    echo "ChangeAfter = 10"
    echo "LearningRate = 0.1"
    echo "Momentum = 0.5"
    echo "Batch = $4"
    echo "Seed = 7"
  } > "$work/$1-$4.param"
}

now() { date +%s.%N; }

run() { # program param out
  if [ "${MEMORY:-0}" = 1 ]; then
    /usr/bin/time -v "$1" "$2" > "$3" 2> "$3.time"
    grep "Maximum resident" "$3.time" | awk '{ printf " (peak %d kB)", $6 }'
  else
    "$1" "$2" > "$3"
  fi
}

# Reference kernel time / baseline time, per case (size mode).
reference() {
  case "$1 $2" in
    "small online") echo 1.36 ;; "small batch") echo 1.59 ;;
    "medium online") echo 1.12 ;; "medium batch") echo 1.46 ;;
    "large online") echo 1.02 ;; "large batch") echo 1.27 ;;
  esac
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

if [ -n "$ratios" ]; then
  runs=${RUNS:-5}
  printf "%-8s %-6s %10s %10s %8s %9s\n" size mode baseline this speed-up vs-kernel
  for size in "small 4 3 12 3 3 2000" "medium 13 3 40 3 3 500" "large 30 4 100 2 5 150"; do
    set -- $size
    setup "$1" "$2" "$3" "$4" "$5" "$6"
    for batch in false true; do
      mode=$([ $batch = true ] && echo batch || echo online)
      : > "$work/times-a"; : > "$work/times-b"
      i=0
      while [ "$i" -lt "$runs" ]; do
        for side in a b; do
          program=$([ $side = a ] && echo "$baseline" || echo "$build")
          params "$1" "$5" "$7" "$batch" "$work/$1-$batch-$side.wgt"
          t0=$(now)
          "$program/Kestrane" "$work/$1-$batch.param" > "$work/$1-$batch-$side.out"
          t1=$(now)
          echo "$t1 - $t0" | bc >> "$work/times-$side"
        done
        cmp -s "$work/$1-$batch-a.wgt" "$work/$1-$batch-b.wgt" &&
          cmp -s "$work/$1-$batch-a.out" "$work/$1-$batch-b.out" ||
          { echo "$1 $mode: OUTPUTS DIFFER"; exit 1; }
        i=$((i + 1))
      done
      ta=$(median < "$work/times-a")
      tb=$(median < "$work/times-b")
      printf "%-8s %-6s %10.3f %10.3f %7.2fx %9.2f\n" "$1" "$mode" "$ta" "$tb" \
        "$(echo "$ta / $tb" | bc -l)" "$(echo "$(reference "$1" "$mode") * $tb / $ta" | bc -l)"
    done
  done
  exit 0
fi

printf "%-8s %-6s %7s %10s" size mode epochs seconds
[ -n "$other" ] && printf " %10s %7s" other ratio
echo
for size in "small 4 3 12 3 3 2000" "medium 13 3 40 3 3 500" "large 30 4 100 2 5 150"; do
  set -- $size
  setup "$1" "$2" "$3" "$4" "$5" "$6"
  for batch in false true; do
    params "$1" "$5" "$7" "$batch" "$work/$1-$batch-a.wgt"
    t0=$(now)
    mem=$(run "$build/Kestrane" "$work/$1-$batch.param" "$work/$1-$batch-a.out")
    t1=$(now)
    line=$(printf "%-8s %-6s %7s %10.3f" "$1" "$([ $batch = true ] && echo batch || echo online)" \
      "$7" "$(echo "$t1 - $t0" | bc)")
    if [ -n "$other" ]; then
      params "$1" "$5" "$7" "$batch" "$work/$1-$batch-b.wgt"
      t2=$(now)
      mem2=$(run "$other/Kestrane" "$work/$1-$batch.param" "$work/$1-$batch-b.out")
      t3=$(now)
      line="$line $(printf "%10.3f %7.2f" "$(echo "$t3 - $t2" | bc)" \
        "$(echo "($t3 - $t2) / ($t1 - $t0)" | bc -l)")"
      cmp -s "$work/$1-$batch-a.wgt" "$work/$1-$batch-b.wgt" &&
        cmp -s "$work/$1-$batch-a.out" "$work/$1-$batch-b.out" ||
        { echo "$line  OUTPUTS DIFFER"; exit 1; }
      mem="$mem$mem2"
    fi
    echo "$line$mem"
  done
done
