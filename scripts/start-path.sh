#!/usr/bin/env bash
# Writes cmake/start_path.ld: the functions a short run of demodctl and demodreg executes, which
# their link places side by side at the head of the code (see demodctl_fast_start in
# CMakeLists.txt), so that a run maps the code it needs with a page fault or two.
#
# The functions are those callgrind sees in the runs the start benchmarks time (one register read
# and a full dump over the USB bridge, on the fake adapter bench/fake_i2c_adapter.c). A function
# missing from the list still runs, from wherever the linker puts it: run this again after a
# change to what such a run calls, then rebuild and compare the benchmarks' page faults.
#
# Usage: scripts/start-path.sh BUILD_DIR   (a Release build; needs valgrind)
set -euo pipefail
export LC_ALL=C  # one collation for sort and comm

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
out=$(cd "$(dirname "$0")/.." && pwd)/cmake/start_path.ld
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Mangled names (each section is named after its function) of one run's functions in `program`:
# those callgrind saw that the program defines (callgrind does not always name their object).
profile() {
  local program=$1
  shift
  LD_PRELOAD="$build/libfake_i2c_adapter.so" DEMODCTL_I2C_BUS=/dev/i2c-99 \
    valgrind --tool=callgrind --demangle=no --callgrind-out-file="$work/run.out" \
    "$build/$program" "$@" >/dev/null 2>"$work/valgrind.log" ||
    { cat "$work/valgrind.log" >&2; exit 1; }
  nm --defined-only "$build/$program" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sort -u >"$work/defined"
  callgrind_annotate --threshold=100 "$work/run.out" |
    sed -nE "s|^ *[0-9,]+ +\([^)]*\) +(\?\?\?:)?([^ ]+) \[.*\]\$|\2|p" |
    sed -E "s/'[0-9]+\$//" | sort -u | comm -12 - "$work/defined"
}

{
  profile demodctl 100 208 fec_ok 0
  profile demodreg usb:/dev/i2c-99@0xD0 dump
} | sort -u >"$work/names"
[ -s "$work/names" ] || { echo "no function of the programs profiled" >&2; exit 1; }

{
  echo "/* Written by scripts/start-path.sh: the code of a short run of demodctl or demodreg,"
  echo "   placed ahead of the rest of the code. Inserted into the linker's own script. */"
  echo "SECTIONS"
  echo "{"
  echo "  .text.start_path :"
  echo "  {"
  echo "    *Scrt1.o(.text)"
  echo "    *crtbeginS.o(.text)"
  # The C runtime's _fini, run at exit (empty here: destructors run from .fini_array), whole.
  echo "    KEEP (*(SORT_NONE(.fini)))"
  echo "    *(.text.startup .text.startup.*)"
  while read -r name; do
    # A constructor or destructor is one function under two names (C1/C2, D1/D2), in the
    # section of one of them.
    for variant in $(printf '%s\n' "$name" "$(sed -E 's/([CD])1([EI])/\12\2/' <<<"$name")" \
      "$(sed -E 's/([CD])2([EI])/\11\2/' <<<"$name")" | sort -u); do
      echo "    *(.text.$variant .text.$variant.*)"
    done
  done <"$work/names"
  echo "  }"
  echo "}"
  echo "INSERT BEFORE .text;"
} >"$out"
echo "$(grep -c '^    \*(' "$out") sections listed in $out"
