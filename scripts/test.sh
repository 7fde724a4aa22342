#!/usr/bin/env bash
# Builds and runs every test: a Release build and an ASan+UBSan build, both
# with warnings as errors and both through ctest (each in a temporary directory
# of its own that must be empty afterwards), a soak of the programs on boards
# with random faults, then a short run of each parser's fuzzer (docs/fuzzing.md).
# Usage: scripts/test.sh   (FUZZ_SECONDS=N per fuzz target, SOAK_RUNS=N soak runs)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-15}
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

fuzz_targets=(decode_request session reply scenario command_line http_request)
echo "== fuzzing each parser for ${fuzz_seconds}s"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DDEMODCTL_FUZZ=ON -DDEMODCTL_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target "${fuzz_targets[@]/#/fuzz_}"
# Each run grows a copy of its seed corpus in a scratch directory (also the command-line
# target's TMPDIR); a crash's input is kept in build-fuzz/crashes for the report.
fuzz_scratch=$(mktemp -d)
trap 'rm -rf "$fuzz_scratch"' EXIT
mkdir -p build-fuzz/crashes
for target in "${fuzz_targets[@]}"; do
  mkdir "$fuzz_scratch/$target"
  cp fuzz/corpus/"$target"/* "$fuzz_scratch/$target"/
  dict=()
  [ -f fuzz/"$target".dict ] && dict=(-dict="fuzz/$target.dict")
  if ! TMPDIR="$fuzz_scratch" ./build-fuzz/fuzz_"$target" "${dict[@]}" \
      -max_total_time="$fuzz_seconds" -timeout=10 -print_final_stats=0 \
      -artifact_prefix=build-fuzz/crashes/"$target"- "$fuzz_scratch/$target" \
      >"$fuzz_scratch/$target.log" 2>&1; then
    tail -n 40 "$fuzz_scratch/$target.log"
    echo "fuzz: $target failed; its input is in build-fuzz/crashes/"
    exit 1
  fi
  echo "fuzz: $target, no crash: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' \
    "$fuzz_scratch/$target.log")"
done
