#!/usr/bin/env bash
# The project's test command, run from anywhere in a checkout:
#   tools/test_all.sh
# Installs what a fresh Debian machine lacks (as root), builds a Release
# build with warnings as errors and runs every test, then does the same with
# AddressSanitizer and UndefinedBehaviorSanitizer, runs the tests that use
# threads under ThreadSanitizer, fuzzes each target for a short while and
# round-trips real files. Exits non-zero on the first failure.
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
command -v pkg-config >/dev/null 2>&1 || missing+=(pkgconf)
command -v setfacl >/dev/null 2>&1 || missing+=(acl)
command -v setfattr >/dev/null 2>&1 || missing+=(attr)
command -v setpriv >/dev/null 2>&1 || missing+=(util-linux)
command -v chattr >/dev/null 2>&1 || missing+=(e2fsprogs)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/zlib.h ] || missing+=(zlib1g-dev)
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
  missing+=(libclang-rt-14-dev)
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
stage "Stage 4: ThreadSanitizer, the tests that run threads (build-tsan/)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRIMBIT_TSAN=ON -DTRIMBIT_WERROR=ON
cmake --build build-tsan -j"$JOBS" --target thread_tests
TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan -L threads --output-on-failure

# ---------------------------------------------------------------------------
stage "Stage 5: fuzzing, a short fixed time per target (build-fuzz/)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRIMBIT_FUZZ=ON -DTRIMBIT_TESTS=OFF
cmake --build build-fuzz -j"$JOBS"
seeds=build-fuzz/seeds
rm -rf "$seeds" build-fuzz/crash-* && python3 fuzz/make_seeds.py "$seeds"
for target in deflate gzip png zip; do
  corpus=build-fuzz/corpus-$target
  mkdir -p "$corpus"
  echo "fuzz_$target: ${FUZZ_SECONDS:-30} s"
  build-fuzz/fuzz/fuzz_$target -max_total_time="${FUZZ_SECONDS:-30}" -max_len=65536 -timeout=25 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/crash-$target- \
    "$corpus" "$seeds/$target" >"build-fuzz/log-$target.txt" 2>&1 || true
  grep -E "^Done" "build-fuzz/log-$target.txt" || true
  if compgen -G "build-fuzz/crash-$target-*" >/dev/null; then
    tail -n 60 "build-fuzz/log-$target.txt" >&2
    echo "fuzz_$target found a failing input:" build-fuzz/crash-$target-* >&2
    exit 1
  fi
done

# ---------------------------------------------------------------------------
stage "Stage 6: round trip over real files on this machine"
python3 tools/roundtrip.py --trimbit build/trimbit --limit "${ROUNDTRIP_LIMIT:-400}" \
  examples /usr/share/doc /usr/share/common-licenses /usr/share/icons /usr/lib/python3

stage "All stages passed"
