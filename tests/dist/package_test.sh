#!/usr/bin/env bash
# The Debian package: package_test.sh BUILD_DIR PART builds it with cpack into a temporary
# directory, then checks PART: package (lintian: no error, no hardening tag with -I; both programs
# run unpacked into an empty root) or docs (each path under /usr or /lib that README, docs/ and
# the manual pages name is in the package).
# Exit 77 (skipped) without dpkg-deb.
set -euo pipefail
build=$1 part=$2
source=$(cd "$(dirname "$0")/../.." && pwd)
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

case $part in
package)
  if command -v lintian >/dev/null; then
    lintian -I --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail lintian; }
    grep -v "^running with root privileges" "$work/lintian.log" || true  # the warnings
    ! grep -q "hardening-" "$work/lintian.log" || fail "lintian reports a hardening tag"
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
  ;;
docs)
  dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\.||; s|/$||' >"$work/contents"
  missing=$(cd "$source" && grep -oHE '(^|[^A-Za-z0-9_.~/-])/(usr|lib)/[A-Za-z0-9_.@+/-]*' \
    README.md docs/*.md dist/man/*.scd | sed -E 's|:[^/]?/|: /|; s|[./]+$||' | sort -u |
    awk -F': ' 'NR == FNR { held[$0]; next } !($2 in held)' "$work/contents" -)
  [ -z "$missing" ] || fail "documents name paths the package does not hold:"$'\n'"$missing"
  ;;
*) fail "no part $part" ;;
esac
