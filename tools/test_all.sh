#!/usr/bin/env bash
# The project's test command, run from anywhere in a checkout:
#   tools/test_all.sh
# Installs what a fresh Debian machine lacks (as root), builds a Release
# build with warnings as errors and runs every test, then does the same with
# AddressSanitizer and UndefinedBehaviorSanitizer. Exits non-zero on the
# first failure.
set -euo pipefail

cd "$(dirname "$0")/.."
JOBS=2

stage() {
  printf '\n========== %s ==========\n' "$*"
}

# ---------------------------------------------------------------------------
stage "Stage 1: tools"
# Packages to install, each paired with the check that says it is present.
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v python3 >/dev/null 2>&1 || missing+=(python3)
command -v pngcheck >/dev/null 2>&1 || missing+=(pngcheck)
command -v zip >/dev/null 2>&1 || missing+=(zip)
command -v unzip >/dev/null 2>&1 || missing+=(unzip)
command -v gzip >/dev/null 2>&1 || missing+=(gzip)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/zlib.h ] || missing+=(zlib1g-dev)
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Not root: install these packages first: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y "${missing[@]}"
else
  echo "All tools present."
fi

# ---------------------------------------------------------------------------
stage "Stage 2: Release build and tests (build/)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTRIMBIT_WERROR=ON
cmake --build build -j"$JOBS"
ctest --test-dir build -j"$JOBS" --output-on-failure

# ---------------------------------------------------------------------------
stage "Stage 3: sanitizer build and tests (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRIMBIT_SANITIZE=ON \
  -DTRIMBIT_WERROR=ON
cmake --build build-asan -j"$JOBS"
# Any report aborts the process, so no report can hide behind an expected
# exit status of 1; leaks count as reports.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1:exitcode=86 \
UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan -j"$JOBS" --output-on-failure

# ---------------------------------------------------------------------------
# Later stages (fuzzing, round trips over sample files) go here.

stage "All stages passed"
