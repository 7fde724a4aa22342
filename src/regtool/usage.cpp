#include "regtool/usage.h"

namespace demodctl::regtool {

std::string usage_text() {
  return R"(Usage: demodreg [OPTIONS] BOARD COMMAND [ARGS]
       demodreg diff DUMP DUMP
Raw register access to the demodulator (and its tuner) of a board.

BOARD:
  HOST:PORT/CHANNEL@ADDRESS[,SPEED]  a register server (IPv6 host in brackets)
  usb:BUS@ADDRESS                    the USB bridge on BUS (sim, sim:FILE, /dev/i2c-N, N)
  sim[:SCENARIO]                     the simulated board in this process
ADDRESS is the 8-bit address byte (0xD0 for i2c-tools' 0x68). Numbers are decimal or 0x hex.

Commands:
  get REG [COUNT] | get NAME     read registers, or a register or field of the map
  set REG BYTE... | set NAME VALUE
                                 write registers, or a field (read-modify-write)
  dump [FIRST [LAST]]            every register of the map, or a range
  diff DUMP                      a dump (--json) against the board
  watch NAME|REG...              print changes with a timestamp
  scan                           addresses that answer on the board's channel

Options:
  -y, --yes          write without asking (needed without a terminal)
  --tuner ADDRESS    get, set, dump: the tuner's registers, through the repeater
  --tuner            scan: behind the repeater
  --named            dump: a table of the map's fields
  --json             dump: JSON (see demodreg(1))
  --side-effects     dump: read the registers whose read takes data away too
  --count N          watch: stop after N reads
  --interval MS      watch: between reads (default 1000)
  -h, --help         this text
  -V, --version      the version

Exit: 0 done (diff: equal), 1 a transfer failed (diff: they differ), 2 a bad request, a write
without a yes, a board or file that cannot be had (diff: any error).
)";
}

std::string version_text() { return DEMODCTL_VERSION; }

}  // namespace demodctl::regtool
