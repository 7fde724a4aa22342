#!/usr/bin/env bash
# Builds demodctl and regserver, starts regserver on the simulated board, runs
# the commands against it over the register server and over the USB bridge
# path (in-process simulated board), shows what each prints, stops the server.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target demodctl regserver

bin=build
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/regserver" --sim --port 0 --trace "$work/trace.jsonl" >"$work/server.out" 2>"$work/server.log" &
server=$!
for _ in $(seq 100); do grep -q '^listening on' "$work/server.out" 2>/dev/null && break; sleep 0.05; done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/server.out")
echo "regserver (simulated board): $(cat "$work/server.out")"

run() {  # prints the command line, its output and its exit status
  local status=0 out
  out=$("$@") || status=$?
  printf '  $ %s\n    %s   [exit %d]\n' "${*#"$bin/"}" "$out" "$status"
}
sock() { run "$bin/demodctl" 127.0.0.1 "$port" 0 100 208 "$1" 1; }

echo
echo "== over the register server"
run "$bin/demodctl" print_conn 1
for c in on_line agc_ok cbs_ok tr_ok sync_ok cr_ok fec_ok dvb_standard; do sock "$c"; done

echo
echo "== hot reset: lock drops, then acquisition comes back stage by stage"
sock hot_rst
for _ in 1 2 3 4 5 6; do sock fec_ok; done
sock dvb_standard

echo
echo "== chip initialisation (eleven register writes, see the trace below)"
sock chip_init
echo "  last writes the server performed:"
grep '"op":"write"' "$work/trace.jsonl" | tail -n 11 | sed 's/^/    /'

echo
echo "== over the USB bridge path, simulated board in-process (DEMODCTL_I2C_BUS=sim)"
export DEMODCTL_I2C_BUS=sim
run "$bin/demodctl" print_conn 0
for c in on_line fec_ok dvb_standard hot_rst chip_init; do run "$bin/demodctl" 100 208 "$c" 0; done
export DEMODCTL_I2C_BUS="sim:scenarios/dvbs_locked.json"
run "$bin/demodctl" 100 208 dvb_standard 0
unset DEMODCTL_I2C_BUS

echo
echo "== failures"
run "$bin/demodctl" 127.0.0.1 "$port" 0 100 208 On_line 1
run env DEMODCTL_I2C_BUS=/dev/i2c-nonexistent "$bin/demodctl" 100 208 on_line 0
kill "$server"; wait "$server" 2>/dev/null || true
run "$bin/demodctl" 127.0.0.1 "$port" 0 100 208 on_line 1

echo
echo "== the server's log (standard error), last lines"
tail -n 4 "$work/server.log" | sed 's/^/    /'
