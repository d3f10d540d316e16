#!/bin/sh
# Installs the Debian packages that building Kestrane needs and this machine
# lacks: with apt-get when run as root, otherwise it prints the one
# `sudo apt-get install ...` line that does it and fails.
# Usage: tools/needs.sh [tests]     (tests: GoogleTest as well)
set -e
missing=
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v make >/dev/null 2>&1 || missing="$missing make"
# The JSON output of the rule report (header-only).
[ -f /usr/include/nlohmann/json.hpp ] || missing="$missing nlohmann-json3-dev"
if [ "$1" = tests ]; then
  [ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
fi
[ -n "$missing" ] || exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "installing$missing (apt-get)..." >&2
  apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >&2
else
  echo "Kestrane needs$missing; install them with:" >&2
  echo "  sudo apt-get install$missing" >&2
  exit 1
fi
