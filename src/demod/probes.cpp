// Link status probes: chip identity and the six lock-status flags.
#include "demod/demod_commands.h"
#include "demod/lock_status.h"
#include "output/result_line.h"

namespace demodctl {
namespace {

// Reads register 0x2C once and reports one of its bits as 1 or 0. No identity check: with no
// chip the bridge refuses the read and the command fails.
Outcome probe_bit(Transport& bus, uint8_t mask) {
  const auto status = demod_read_reg(bus, kRegLockStatus);
  if (!status) return Failure::no_connection;
  return Reply{kMsgOk, (*status & mask) != 0 ? 1 : 0};
}

}  // namespace

// The identity check found the chip (an absent chip has the reply of the command's row).
Outcome on_line(Transport&, const Invocation&) { return Reply{kMsgOk, 1}; }

Outcome agc_ok(Transport& bus, const Invocation&) { return probe_bit(bus, kLockAgc); }
Outcome cbs_ok(Transport& bus, const Invocation&) { return probe_bit(bus, kLockCbs); }
Outcome tr_ok(Transport& bus, const Invocation&) { return probe_bit(bus, kLockTr); }
Outcome sync_ok(Transport& bus, const Invocation&) { return probe_bit(bus, kLockSync); }
Outcome cr_ok(Transport& bus, const Invocation&) { return probe_bit(bus, kLockCr); }
Outcome fec_ok(Transport& bus, const Invocation&) { return probe_bit(bus, kLockFec); }

}  // namespace demodctl
