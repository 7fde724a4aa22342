#!/usr/bin/env bash
# What installing the Debian package adds to a minimal Debian 12 system, as a lab's machine that
# installs it with apt gets it (Recommends included): debootstrap --variant=minbase bookworm into a
# temporary root, `apt-get install ./demodctl_*.deb` there, and the root's size before and after
# (apt's package cache emptied both times), in MB of 10^6 bytes, with the packages it pulled in.
# Then, when cpack made it too, python3-demodctl is installed in the same root and imported there
# (its plugin found through its pytest11 entry point), and what it added is said as well.
#
# Usage: scripts/install-size.sh [DEB [PYTHON_DEB]]   (default: the packages cpack makes in build/)
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
deb=${1:-} python_deb=${2:-}
if [ -z "$deb" ]; then
  (cd build && cpack -G DEB >/dev/null)
  deb=$(ls build/demodctl_*.deb)
  python_deb=$(ls build/python3-demodctl_*.deb 2>/dev/null || true)
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

[ -n "$python_deb" ] || exit 0
cp "$python_deb" "$root/tmp/python3-demodctl.deb"
in_root apt-get install -y -q ./tmp/python3-demodctl.deb >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; exit 1; }
rm -f "$root/tmp/python3-demodctl.deb"
in_root apt-get clean
mb=$(awk -v b="$after" -v a="$(size)" 'BEGIN { printf "%.1f", (a - b) / 1e6 }')
in_root python3 -c 'import demodctl, importlib.metadata as m
board = demodctl.Board.sim()
with board:
    assert board.lock().fec
plugins = [e.value for e in m.entry_points(group="pytest11")]
assert "demodctl.pytest_plugin" in plugins, plugins
print("python3-demodctl imported; a simulated board locked; pytest11 entry point", plugins[0])' ||
  { echo "install-size: python3-demodctl does not import in the root" >&2; exit 1; }
echo "installing $(basename "$python_deb") beside it adds $mb MB (Python and numpy included)"
