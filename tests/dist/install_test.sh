#!/usr/bin/env bash
# The install tree, checked in a temporary prefix: install_test.sh BUILD_DIR PART, PART one of
#   files       every file in its place
#   man         each manual page renders without a warning
#   completion  the bash completion loads and completes
#   units       systemd-analyze verify is clean; exposure at most 0.9 for regserver.service and
#               the template, at most 1.5 for demodmon.service
#   hardening   hardening-check passes on every program (but for control-flow protection)
# Exit 77 (skipped) when the tool a part needs is missing. DEMODCTL_MAN_PAGES=0: the build made no
# manual pages; DEMODCTL_HARDENED=0: a build without the hardening flags (Debug, sanitizers).
set -euo pipefail
build=$1 part=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix/usr" >/dev/null
cd "$prefix/usr"
units=lib/systemd/system pages=(share/man/man1/demodctl.1.gz share/man/man1/demodctl-plot-capture.1.gz
  share/man/man1/demodmon.1.gz share/man/man1/demodreg.1.gz share/man/man8/regserver.8.gz)
if [ "${DEMODCTL_MAN_PAGES:-1}" = 0 ]; then  # the build found no scdoc
  [ "$part" = man ] && skip "scdoc was not found when the build was configured (package scdoc)"
  pages=()
fi

case $part in
files)
  for f in bin/demodctl bin/regserver bin/demodmon bin/demodreg bin/demodctl-plot-capture; do
    [ -f "$f" ] && [ -x "$f" ] || fail "$f not installed as a program"
  done
  for f in "${pages[@]}" share/bash-completion/completions/{demodctl,regserver,demodmon,demodreg} \
    $units/regserver{.service,.socket,@.service} $units/demodmon.service \
    ../etc/demodmon/demodmon.toml lib/udev/rules.d/60-demodctl-i2c.rules \
    share/doc/demodctl/{README.md,copyright,changelog.gz,docs/protocol.md,docs/demodmon.md}; do
    [ -f "$f" ] || fail "$f not installed"
  done
  grep -qx "ExecStart=$prefix/usr/bin/regserver --i2c-dev" $units/regserver.service ||
    fail "the service does not start the installed regserver"
  grep -qx "ExecStart=$prefix/usr/bin/demodmon --config /etc/demodmon/demodmon.toml" \
    $units/demodmon.service || fail "the service does not start the installed demodmon"
  bin/demodmon --config ../etc/demodmon/demodmon.toml --count 1 --interval 10 --http 127.0.0.1:0 \
    >/dev/null 2>&1 || fail "demodmon does not run with the example configuration"
  grep -q "exec $prefix/usr/bin/regserver " $units/regserver@.service || fail "template's regserver"
  ;;
man)
  command -v man >/dev/null || skip "man is not installed (package man-db)"
  for page in "${pages[@]}"; do
    gzip -dc "$page" >"$prefix/page"
    warnings=$(MANWIDTH=80 man --warnings -l "$prefix/page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
    [ "$(MANWIDTH=80 man -l "$prefix/page" 2>/dev/null | wc -l)" -gt 20 ] || fail "$page is empty"
  done
  ;;
completion)
  # WORDS (the last is the word being completed) -> the expected replies, sorted
  cases=(
    "demodctl 127.0.0.1 7468 0 100 208 on_l|on_line"
    "demodctl 100 208 s|sig_str symbol_err sync_ok"
    "demodctl 100 208 fec_ok |0 1"
    "demodctl 100 2|"
    "demodctl --v|--version"
    "regserver --i|--i2c-dev --idle-timeout"
    "regserver --trace -|-"
    "demodmon --capture-e|--capture-every"
    "demodmon --con|--config"
    "demodreg sim d|diff dump"
    "demodreg sim dump --na|--named"
  )
  bash -c '
    for p in demodctl regserver demodmon demodreg; do
      source share/bash-completion/completions/$p
      complete -p $p | grep -q -- "-F _$p $p$" || { echo "FAIL: complete -p $p"; exit 1; }
    done
    for c in "$@"; do
      read -ra COMP_WORDS <<<"${c%%|*}"
      [[ ${c%%|*} == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      "_${COMP_WORDS[0]}"
      got=$(printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " ")
      [ "$got" = "${c#*|}" ] || { echo "FAIL: ${c%%|*}: got \"$got\", expected \"${c#*|}\""; exit 1; }
    done' completion "${cases[@]}"
  ;;
units)
  command -v systemd-analyze >/dev/null || skip "systemd-analyze is not installed (package systemd)"
  cd $units
  MANPATH=$prefix/usr/share/man systemd-analyze verify regserver.socket regserver.service \
    regserver@i2c-3.service demodmon.service || fail "systemd-analyze verify"
  for limit in regserver.service:0.9 regserver@i2c-3.service:0.9 demodmon.service:1.5; do
    unit=${limit%%:*} most=${limit#*:}
    e=$(systemd-analyze security --offline=true $unit 2>&1 | sed -n "s/.*level for $unit: \([0-9.]*\).*/\1/p")
    echo "exposure of $unit: $e"
    awk -v e="$e" -v m="$most" 'BEGIN { exit !(e != "" && e <= m) }' || fail "$unit: exposure '$e' over $most"
  done
  ;;
hardening)
  [ "${DEMODCTL_HARDENED:-1}" = 0 ] && skip "this build is not hardened (Debug or sanitizers)"
  command -v hardening-check >/dev/null || skip "hardening-check is not installed (package devscripts)"
  hardening-check --nocfprotection bin/{demodctl,regserver,demodmon,demodreg} || fail hardening-check
  ;;
*) fail "no part $part" ;;
esac
