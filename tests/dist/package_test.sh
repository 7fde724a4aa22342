#!/usr/bin/env bash
# The Debian package: package_test.sh BUILD_DIR builds it with cpack into a temporary directory,
# runs lintian on it (no error allowed), unpacks it into an empty root and runs both programs from
# there. Exit 77 (skipped) without dpkg-deb.
set -euo pipefail
build=$1
command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Everything the tools below leave in a temporary directory (lintian does) goes with the work dir.
mkdir "$work/tmp"
export TMPDIR="$work/tmp"
(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail cpack; }
deb=$(echo "$work"/out/demodctl_*.deb)
[ -f "$deb" ] || fail "no package in $work/out"

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail lintian; }
  grep -v "^running with root privileges" "$work/lintian.log" || true  # the warnings
else
  echo "lintian is not installed (package lintian): not checked"
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)
[ "$("$root/usr/bin/demodctl" --version)" = "demodctl $version" ] || fail "demodctl --version"
[ "$("$root/usr/bin/regserver" --version)" = "regserver $version" ] || fail "regserver --version"
[ "$(file -b "$root/usr/bin/regserver" | grep -c 'not stripped')" = 0 ] || fail "regserver not stripped"
dpkg-deb -I "$deb" conffiles | grep -qx /etc/demodmon/demodmon.toml ||
  fail "/etc/demodmon/demodmon.toml is not a conffile"
echo "package $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
