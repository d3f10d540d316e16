#!/usr/bin/env bash
# The README's two commands on a bare Debian 12 machine. A minbase chroot
# made by debootstrap, plus only g++, cmake, make, git and libgtest-dev,
# receives a fresh clone of this repository (its committed HEAD); then, in a
# chroot of its own for each order, both commands run one after the other:
#
#   order 1: tests/run.sh, then examples/iris/run.sh
#   order 2: examples/iris/run.sh, then tests/run.sh
#
# Before order 2 a user who is not root runs examples/iris/run.sh (it must
# stop with the one `sudo apt-get install` line), and a plain CMake configure
# fails in build-example/ for want of the JSON headers, leaving the stale
# CMakeCache.txt that run.sh must recover from. Prints the time of each step.
#
# Usage, as root: tests/bare-machine/check.sh WORK_DIR   (outside the repository;
# the chroot is kept there as base.tar and reused)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mkdir -p "${1:?usage: check.sh WORK_DIR}" && cd "$1" && pwd)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

in_root() { # DIR COMMAND...: runs COMMAND in the chroot DIR, in the clone
  local dir=$1
  shift
  chroot "$dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    /bin/sh -c "cd /src && $*"
}

timed() { # LABEL DIR COMMAND...
  local label=$1 dir=$2 start end
  shift 2
  start=$(date +%s)
  if in_root "$dir" "$@" >"$dir.log.$label" 2>&1; then
    end=$(date +%s)
    echo "  $label: $((end - start)) s"
  else
    echo "  $label: FAILED after $(($(date +%s) - start)) s; the end of its output:"
    tail -n 20 "$dir.log.$label"
    return 1
  fi
}

if [ ! -f "$work/base.tar" ]; then
  command -v debootstrap >/dev/null || apt-get install -y debootstrap
  rm -rf "$work/base"
  debootstrap --variant=minbase bookworm "$work/base" "$mirror"
  chroot "$work/base" apt-get update -qq
  chroot "$work/base" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends g++ cmake make git libgtest-dev
  chroot "$work/base" apt-get clean
  tar -C "$work/base" -cf "$work/base.tar" .
  rm -rf "$work/base"
fi

fresh() { # DIR: a new chroot with a clone of the repository in /src
  local dir=$1
  umount "$dir/proc" 2>/dev/null || true
  rm -rf "$dir"
  mkdir -p "$dir"
  tar -C "$dir" -xf "$work/base.tar"
  mount -t proc proc "$dir/proc"
  git clone -q "$repo" "$dir/src"
}

status=0
fresh "$work/order1"
echo "order 1: the test command, then the example"
timed tests "$work/order1" tests/run.sh || status=1
timed example "$work/order1" examples/iris/run.sh || status=1
grep -q "Accuracy:" "$work/order1.log.example" || status=1
umount "$work/order1/proc"

fresh "$work/order2"
echo "order 2: the example, then the test command"
if in_root "$work/order2" "chroot --userspec=nobody:nogroup / sh -c 'cd /src && examples/iris/run.sh'" \
     >"$work/order2.log.user" 2>&1 ||
   ! grep -q "^  sudo apt-get install.* nlohmann-json3-dev" "$work/order2.log.user"; then
  echo "  as a user: no sudo apt-get line"; cat "$work/order2.log.user"; status=1
else
  echo "  as a user: $(grep 'sudo apt-get' "$work/order2.log.user" | sed 's/^ *//')"
fi
if in_root "$work/order2" cmake -S . -B build-example >/dev/null 2>&1 ||
   [ ! -f "$work/order2/src/build-example/CMakeCache.txt" ]; then
  echo "  the configure without the JSON headers did not fail as expected"; status=1
fi
timed example "$work/order2" examples/iris/run.sh || status=1
grep -q "Accuracy:" "$work/order2.log.example" || status=1
timed tests "$work/order2" tests/run.sh || status=1
umount "$work/order2/proc"
[ "$status" = 0 ] && echo "both orders passed" || echo "FAILED"
exit "$status"
