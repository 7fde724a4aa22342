#!/usr/bin/env bash
# Builds demodctl and regserver, starts regserver on the simulated board, runs
# the commands against it over the register server and over the USB bridge
# path (in-process simulated board), shows what each prints, stops the server.
# Then the whole story on a board with transponders: chip_init, tuner_set onto a
# transponder, lock, measurements, a capture and its picture, tuning away.
# The commands run in a scratch directory: the debug log lands there; the
# capture's picture goes to a directory of its own that is kept. Last, demodmon watches a board
# that loses and regains lock.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target demodctl regserver demodmon

root=$PWD
bin=$PWD/build
scenarios=$PWD/scenarios
work=$(mktemp -d)
server= quiet= tuned=
trap 'kill $server $quiet $tuned 2>/dev/null || true; wait $server $quiet $tuned 2>/dev/null || true; rm -rf "$work"' EXIT
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
server=$pid server_port=$port

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
echo "== tuning onto a transponder, over the register server (scenarios/transponders.json:"
echo "   DVB-S2 8PSK 3/4 at 1550 MHz, DVB-S 3/4 at 1210 MHz, DirecTV 6/7 at 1870 MHz; an RDA5815"
echo "   at 0xC0 = 192 and a type 0 tuner at 0xC6 = 198; nothing is received until tuned)"
start_server tuned --scenario "$scenarios/transponders.json" --trace "$work/tuned.jsonl"
tuned=$pid tuned_port=$port port=$server_port
tsock() { run "$bin/demodctl" 127.0.0.1 "$tuned_port" 0 100 208 "$@" 1; }
lock_bits() {  # each run reads 0x2C once: lock comes up one stage per run
  local fec="" flags="" c out
  for _ in 1 2 3 4 5 6; do
    out=$("$bin/demodctl" 127.0.0.1 "$tuned_port" 0 100 208 fec_ok 1) || true
    fec+=" ${out##*=}"
  done
  echo "  \$ demodctl ... fec_ok 1, six runs:$fec"
  echo "    0x2C as they read it: $(grep '"reg":"0x2C"' "$work/tuned.jsonl" | tail -n 6 |
    sed 's/.*"bytes":"\([0-9A-F]*\)".*/\1/' | tr '\n' ' ')"
  for c in agc_ok cbs_ok tr_ok sync_ok cr_ok fec_ok; do
    out=$("$bin/demodctl" 127.0.0.1 "$tuned_port" 0 100 208 "$c" 1) || true
    flags+=" $c=${out##*=}"
  done
  echo "  \$ demodctl ... agc_ok|cbs_ok|tr_ok|sync_ok|cr_ok|fec_ok 1, the six lock bits:"
  echo "   $flags"
}
tsock chip_init
for c in fec_ok dvb_standard sig_str; do tsock "$c"; done
echo "  RDA5815 (tuner type 1) onto 1550 MHz, 36 MHz filter (176 bytes through the repeater):"
tsock 0 192 1 1550 36 tuner_set
lock_bits
tsock dvb_standard
for c in $measurements; do tsock "$c"; done
pictures=$(mktemp -d)
echo "  a capture (9-bit samples, one per symbol: 27.5 Msps) and its picture:"
tsock 0 ad_smp
echo "    qv_ad_smp: $(wc -l <qv_ad_smp) lines; $(sed -n 2,4p qv_ad_smp | tr '\n' ' ')..."
run /usr/bin/python3 "$root/tools/plot-capture" qv_ad_smp --sample-rate 27500000 \
  --title "DVB-S2 8PSK 3/4 at 1550 MHz, 9.5 dB C/N" -o "$pictures/capture.png"
echo "    the picture: $pictures/capture.png"
echo "  type 0 tuner onto 1210 MHz (DVB-S: bit 3 of 0x2C, sync_ok, stays clear):"
tsock 0 198 0 1210 36 tuner_set
lock_bits
for c in dvb_standard sig_str cn_read carrier_err; do tsock "$c"; done
echo "  RDA5815 5 MHz below DirecTV at 1870 MHz: within half its 20 Msps, carrier_err shows it:"
tsock 0 192 1 1865 36 tuner_set
lock_bits
for c in dvb_standard carrier_err; do tsock "$c"; done
echo "  tuning away to 1400 MHz, between the transponders: the lock drops at once"
tsock 0 192 1 1400 36 tuner_set
for c in fec_ok dvb_standard sig_str cn_read; do tsock "$c"; done

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
echo "  tuner_set on the board with transponders (DEMODCTL_I2C_BUS=sim:scenarios/transponders.json)."
echo "  Each run builds that board afresh, so a tuning lasts only for the run that made it: the"
echo "  story of lock and measurements is told over the register server above."
export DEMODCTL_I2C_BUS="sim:$scenarios/transponders.json"
run "$bin/demodctl" 100 208 - 192 1 1550 36 tuner_set 0
echo "  its debug log (qv_debug_file):"
sed 's/^/    /' qv_debug_file
run "$bin/demodctl" 100 208 - 198 0 1210 36 tuner_set 0
run "$bin/demodctl" 100 208 fec_ok 0
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

echo
echo "== demodmon: three samples of a board that loses lock and regains it"
echo "   (a lock timeline counted in reads of 0x2C, one per sample; scenarios/fading.json tells a"
echo "   longer story of the same kind)"
echo '{"signal": {}, "lock_timeline": [{"reads": 1, "lock": "0x3F"}, {"reads": 1, "lock": "0x0F"},
  {"reads": 1, "lock": "0x3F"}]}' >fade.json
echo "  \$ DEMODCTL_I2C_BUS=sim:fade.json demodmon 100 208 0 --count 3 --interval 500"
DEMODCTL_I2C_BUS="sim:$work/fade.json" "$bin/demodmon" 100 208 0 --count 3 --interval 500 |
  sed 's/^/    /'
