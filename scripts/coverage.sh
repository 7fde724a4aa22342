#!/usr/bin/env bash
# Line and branch coverage of the test suite: a Debug build with --coverage in build-coverage,
# the whole ctest there, then gcovr over src/. Prints the figures per folder (layer); the report
# per file is build-coverage/coverage/index.html (uncovered lines marked) and coverage.txt.
# Usage: scripts/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

dir=build-coverage
out=$dir/coverage
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDEMODCTL_WERROR=ON \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_C_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$dir" -j "$(nproc)"
find "$dir" -name '*.gcda' -delete  # counts from an earlier run would add up
# The install and package checks look at files, not at the code's lines: left out.
(cd "$dir" && ctest -j "$(nproc)" --timeout 300 -E '^(install_|debian_package)' >/dev/null) ||
  echo "coverage: some tests failed"

rm -rf "$out"
mkdir -p "$out"
# Branches the compiler adds for exceptions are left out: they are not decisions of the code.
# Headers are reached through the layers' include roots (links into src/); they count under src/.
gcovr_args=(--root . --filter 'src/' --object-directory "$dir" --exclude-throw-branches
  --exclude-directories "$dir/CMakeFiles/[0-9].*")
gcovr "${gcovr_args[@]}" --html-details "$out/index.html" --txt "$out/coverage.txt" \
  --json-summary "$out/summary.json" >/dev/null
python3 - "$out/summary.json" <<'PY'
import collections, json, sys
totals = collections.defaultdict(lambda: [0, 0, 0, 0])
for f in json.load(open(sys.argv[1]))["files"]:
    name = f["filename"]
    if "/layers/" in name:  # build-coverage/layers/LIBRARY/FOLDER/FILE.h -> src/FOLDER
        name = "src/" + name.split("/layers/", 1)[1].split("/", 1)[1]
    folder = name.rsplit("/", 1)[0]
    for key in (folder, "all"):
        t = totals[key]
        t[0] += f["line_covered"]; t[1] += f["line_total"]
        t[2] += f["branch_covered"]; t[3] += f["branch_total"]
print("%-14s %15s %17s" % ("folder", "lines", "branches"))
for folder, (lc, lt, bc, bt) in sorted(totals.items(), key=lambda i: (i[0] == "all", i[0])):
    print("%-14s %5.1f%% %4d/%-4d %5.1f%% %5d/%-5d" % (folder, 100.0 * lc / max(lt, 1), lc, lt,
                                                     100.0 * bc / max(bt, 1), bc, bt))
PY
echo "coverage: report per file in $out/index.html and $out/coverage.txt"
