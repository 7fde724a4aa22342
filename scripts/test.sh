#!/usr/bin/env bash
# Builds and runs every test: a Release build and an ASan+UBSan build, both
# with warnings as errors and both through ctest, then a short run of the
# request decoder's fuzzer.
# Usage: scripts/test.sh            (FUZZ_SECONDS=N to change the fuzzing time)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-30}

echo "== Release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DDEMODCTL_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest -j "$jobs" --output-on-failure --timeout 300)

echo "== ASan+UBSan build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDEMODCTL_SANITIZE=ON \
  -DDEMODCTL_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
   UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest -j "$jobs" --output-on-failure --timeout 300)

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
