#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzzer, the benchmark and the coverage
# report need.
# Safe to run again: packages already present are left alone. Needs root (or sudo) on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config   # toolchain
  libgtest-dev libgmock-dev              # tests
  nlohmann-json3-dev                     # scenario files, trace lines
  libasio-dev                            # regserver's event loop, demodmon's web server
  libcli11-dev                           # regserver options
  libtomlplusplus-dev                    # demodmon's configuration file (header-only use)
  libjs-chart.js                         # the charts of demodmon's page, served by demodmon
  chromium chromium-driver python3-selenium  # the page's test in a headless browser
  prometheus                             # the /metrics test: a real scrape and PromQL query
  clang libclang-rt-14-dev               # libFuzzer targets of every parser
  procps                                 # pkill/ps used by the demo script
  i2c-tools                              # i2ctransfer, the baseline of the bridge benchmark
  valgrind                               # scripts/start-path.sh: the functions a short run calls
  gcovr                                  # scripts/coverage.sh
  python3 python3-numpy python3-matplotlib  # tools/plot-capture
  pybind11-dev python3-dev               # the Python module demodctl (src/python/)
  python3-pytest python3-pytest-xdist    # its pytest plugin, the production plan, its tests
  scdoc man-db groff-base                # manual pages: built by scdoc, checked by man
  systemd                                # systemd-analyze: the service's checks
  dpkg-dev file lintian                  # the Debian package: cpack's dependencies, its check
  devscripts                             # hardening-check: the installed programs' hardening
  debootstrap                            # scripts/install-size.sh: a minimal Debian 12 root
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# apt-get's output goes to a log, so that the first screen of the demo or the tests is theirs;
# the log is removed when the installation succeeds, and kept, its end shown, when it fails.
log=$(mktemp "${TMPDIR:-/tmp}/demodctl-install-deps.XXXXXX.log")
echo "installing ${#missing[@]} Debian packages (log: $log)"
if ! { $SUDO apt-get update -q && \
       $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  log_tail_lines=40
  echo "install-deps: apt-get failed (its log is kept); the last $log_tail_lines lines of $log:" >&2
  tail -n "$log_tail_lines" "$log" >&2
  exit 1
fi
rm -f "$log"
