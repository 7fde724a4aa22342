#include "regtool/run.h"

#include <cstdio>

#include "demod/register_map.h"
#include "regtool/commands.h"
#include "regtool/usage.h"

namespace demodctl::regtool {

void complain(const std::string& text) { std::fprintf(stderr, "demodreg: %s\n", text.c_str()); }

int board_fault(const Fault& fault) {
  if (fault.kind == FaultKind::read_only) {
    complain("the register server is read-only (READ_ONLY): " + fault.cause);
  } else {
    complain(fault.text());
  }
  return kExitFault;
}

int run(const Request& r, const Settings& settings) {
  if (r.command == Command::help) {
    std::fputs(usage_text().c_str(), stdout);
    return kExitOk;
  }
  if (r.command == Command::version) {
    std::printf("demodreg %s\n", version_text().c_str());
    return kExitOk;
  }
  if (!r.board) return run_diff(r, nullptr);
  if (r.command == Command::set && !r.yes && !settings.interactive) {
    complain("nothing written: writes need -y when standard input is not a terminal");
    return kExitUsage;
  }
  BoardConnection conn(*r.board, settings.link);
  if (!conn.open()) {
    complain("cannot open the board (set DEMODCTL_VERBOSE=1 for why)");
    return kExitUsage;
  }
  RegisterSpace space{conn.bus(), std::nullopt, false};
  if (r.tuner || r.scan_tuner) {
    if (auto id = conn.bus().read_chip_identity(reg::identity.reg); !id) {
      return board_fault(id.error());
    }
    if (r.tuner && !r.scan_tuner) {
      I2cDevice tuner = conn.bus().demod();
      tuner.address = *r.tuner;
      space.tuner = tuner;
    }
    space.tuner_direct = tuner_wired_direct(conn.bus().identity());
  }
  int status = kExitOk;
  switch (r.command) {
    case Command::get:
      status = run_get(r, space);
      break;
    case Command::set:
      status = run_set(r, space, settings);
      break;
    case Command::dump:
      status = run_dump(r, space);
      break;
    case Command::diff:
      status = run_diff(r, &space);
      break;
    case Command::watch:
      status = run_watch(r, space);
      break;
    case Command::scan:
      status = run_scan(r, space, conn);
      break;
    default:
      break;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace demodctl::regtool
