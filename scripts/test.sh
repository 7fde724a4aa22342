#!/usr/bin/env bash
# Builds and runs every test: a Release build and an ASan+UBSan build, both
# with warnings as errors and both through ctest (each in a temporary directory
# of its own that must be empty afterwards), a soak of the programs on boards
# with random faults, then a short run of the request decoder's fuzzer.
# Usage: scripts/test.sh   (FUZZ_SECONDS=N, SOAK_RUNS=N change the fuzzing time, the soak runs)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-30}
soak_runs=${SOAK_RUNS:-1500}

# ctest with TMPDIR on a fresh directory: the tests must remove everything they create there.
ctest_clean() {
  local tmp
  tmp=$(mktemp -d)
  TMPDIR=$tmp ctest "$@"
  if [ -n "$(ls -A "$tmp")" ]; then
    echo "tests left files in TMPDIR:" && ls -A "$tmp" | head
    rm -rf "$tmp"
    return 1
  fi
  rmdir "$tmp"
}

echo "== Release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DDEMODCTL_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest_clean -j "$jobs" --output-on-failure --timeout 300)

echo "== ASan+UBSan build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDEMODCTL_SANITIZE=ON \
  -DDEMODCTL_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
   UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest_clean -j "$jobs" --output-on-failure --timeout 300)

echo "== soak: ${soak_runs} runs on boards with random faults"
python3 tools/soak --build build --runs "$soak_runs" --jobs 4

echo "== fuzzing the request decoder for ${fuzz_seconds}s"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DDEMODCTL_FUZZ=ON \
  -DDEMODCTL_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_decode_request
corpus=$(mktemp -d)
cp fuzz/corpus/* "$corpus"/ 2>/dev/null || true
./build-fuzz/fuzz_decode_request -max_total_time="$fuzz_seconds" -print_final_stats=0 \
  "$corpus" 2>&1 | tail -n 3
rm -rf "$corpus"
echo "fuzz: no crash in ${fuzz_seconds}s"
