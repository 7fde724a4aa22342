#!/usr/bin/env bash
# What installing the Debian package adds to a minimal Debian 12 system, as a lab's machine that
# installs it with apt gets it (Recommends included): debootstrap --variant=minbase bookworm into a
# temporary root, `apt-get install ./demodctl_*.deb` there, and the root's size before and after
# (apt's package cache emptied both times), in MB of 10^6 bytes, with the packages it pulled in.
#
# Usage: scripts/install-size.sh [DEB]   (default: the package cpack makes in build/)
# Needs root, debootstrap (package debootstrap) and the Debian mirror; takes a few minutes, so it
# is no ctest entry. MIRROR=URL picks the mirror (default http://deb.debian.org/debian).
# Exit status 1 when the package adds more than LIMIT_MB (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
limit_mb=${LIMIT_MB:-30}
mirror=${MIRROR:-http://deb.debian.org/debian}
debootstrap_minutes=10  # a minbase root is about 90 packages to fetch and unpack

[ "$(id -u)" -eq 0 ] || { echo "install-size: needs root (debootstrap, chroot)" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "install-size: needs debootstrap" >&2; exit 2; }
deb=${1:-}
if [ -z "$deb" ]; then
  (cd build && cpack -G DEB >/dev/null)
  deb=$(ls build/demodctl_*.deb)
fi
[ -f "$deb" ] || { echo "install-size: no package $deb" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/demodctl-minbase.XXXXXX")
trap 'rm -rf --one-file-system "$work"' EXIT
root=$work/root log=$work/debootstrap.log
echo "debootstrap --variant=minbase bookworm (log: $log)"
if ! timeout "${debootstrap_minutes}m" debootstrap --variant=minbase bookworm "$root" "$mirror" \
    >"$log" 2>&1; then
  tail -n 20 "$log" >&2
  exit 1
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/demodctl.deb"
in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C "$@"; }
in_root apt-get update -qq
in_root apt-get clean

size() { du -sx --block-size=1 "$root" | cut -f1; }
packages() { in_root dpkg-query -W -f='${Package}\n' | sort; }
before=$(size)
packages >"$work/before"
in_root apt-get install -y -q ./tmp/demodctl.deb >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
rm -f "$root/tmp/demodctl.deb"
in_root apt-get clean
after=$(size)
added=$(packages | comm -13 "$work/before" -)

mb=$(awk -v b="$before" -v a="$after" 'BEGIN { printf "%.1f", (a - b) / 1e6 }')
echo "packages added: $(echo "$added" | wc -l): $(echo "$added" | paste -sd ' ')"
echo "installing $(basename "$deb") into a minbase bookworm root adds $mb MB"
awk -v m="$mb" -v l="$limit_mb" 'BEGIN { exit !(m <= l) }' ||
  { echo "install-size: over the limit of $limit_mb MB" >&2; exit 1; }
