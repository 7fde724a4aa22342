#!/usr/bin/env bash
# Builds demodctl and regserver, starts regserver on the simulated board, runs
# the commands against it over the register server and over the USB bridge
# path (in-process simulated board), shows what each prints, stops the server.
# The commands run in a scratch directory: symbol_err's debug log lands there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target demodctl regserver

bin=$PWD/build
scenarios=$PWD/scenarios
work=$(mktemp -d)
server= quiet=
trap 'kill $server $quiet 2>/dev/null || true; wait $server $quiet 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

start_server() {  # NAME [OPTIONS]: starts a regserver on the simulated board, sets $pid and $port
  local out="$work/$1.out"
  shift
  "$bin/regserver" --sim --port 0 "$@" >"$out" 2>"${out%.out}.log" &
  pid=$!
  for _ in $(seq 100); do grep -q '^listening on' "$out" 2>/dev/null && break; sleep 0.05; done
  port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$out")
  echo "regserver ($*): $(cat "$out")"
}
start_server quiet --scenario "$scenarios/no_signal.json"
quiet=$pid quiet_port=$port
start_server server --trace "$work/trace.jsonl"
server=$pid

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

measurements="sig_str cn_read ber_calc lock_time carrier_err symbol_err"
echo
echo "== the six signal measurements, locked board (DVB-S2 8PSK 3/4, -39.4 dBm, 9.5 dB C/N)"
for c in $measurements; do sock "$c"; done
echo "  symbol_err appended its working to qv_debug_file:"
sed 's/^/    /' qv_debug_file
echo "== the same on a board with no signal (scenarios/no_signal.json): the no-lock values"
for c in $measurements; do run "$bin/demodctl" 127.0.0.1 "$quiet_port" 0 100 208 "$c" 1; done

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
echo "  the six signal measurements, locked board:"
for c in $measurements; do run "$bin/demodctl" 100 208 "$c" 0; done
echo "  locked on DVB-S at -65 dBm (DEMODCTL_I2C_BUS=sim:scenarios/dvbs_locked.json):"
export DEMODCTL_I2C_BUS="sim:$scenarios/dvbs_locked.json"
for c in dvb_standard $measurements; do run "$bin/demodctl" 100 208 "$c" 0; done
echo "  no signal (DEMODCTL_I2C_BUS=sim:scenarios/no_signal.json):"
export DEMODCTL_I2C_BUS="sim:$scenarios/no_signal.json"
for c in $measurements; do run "$bin/demodctl" 100 208 "$c" 0; done
unset DEMODCTL_I2C_BUS

echo
echo "== failures"
run "$bin/demodctl" 127.0.0.1 "$port" 0 100 208 On_line 1
run env DEMODCTL_I2C_BUS=/dev/i2c-nonexistent "$bin/demodctl" 100 208 on_line 0
echo "  an AGC ready flag that never rises: sig_str gives up after 3 s of polling"
echo '{"signal": {}, "faults": {"stuck_low": [{"register": "0x38", "mask": "0x80"}]}}' >stuck.json
run env DEMODCTL_I2C_BUS="sim:$work/stuck.json" "$bin/demodctl" 100 208 sig_str 0
kill "$server"; wait "$server" 2>/dev/null || true
run "$bin/demodctl" 127.0.0.1 "$port" 0 100 208 on_line 1

echo
echo "== the server's log (standard error), last lines"
tail -n 4 "$work/server.log" | sed 's/^/    /'
