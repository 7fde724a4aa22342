// Link status probes: chip identity and the six lock-status flags.
#include "cli/result_line.h"
#include "demod/demod_commands.h"
#include "demod/lock_status.h"

namespace demodctl {
namespace {

// Reads register 0x2C once and reports one of its bits as 1 or 0. No identity check: with no
// chip the bridge refuses the read and the command fails.
int32_t probe_bit(Transport& bus, uint8_t mask) {
  if (bus.open_connection() != 0) return -1;
  const auto status = demod_read_reg(bus, kRegLockStatus);
  if (!status) return -1;
  print_result(kMsgOk, (*status & mask) != 0 ? 1 : 0);
  bus.close_connection();
  return 0;
}

}  // namespace

int32_t on_line(Transport& bus, CommandArgs) {
  if (bus.open_connection() != 0) return -1;
  Identity id{};
  const ChipId chip = check_chip_id(bus, id);
  if (chip == ChipId::failed) return -1;
  if (chip == ChipId::present) {
    print_result(kMsgOk, 1);
  } else {
    print_result(kMsgOkComma, 0);
  }
  bus.close_connection();
  return 0;
}

int32_t agc_ok(Transport& bus, CommandArgs) { return probe_bit(bus, kLockAgc); }
int32_t cbs_ok(Transport& bus, CommandArgs) { return probe_bit(bus, kLockCbs); }
int32_t tr_ok(Transport& bus, CommandArgs) { return probe_bit(bus, kLockTr); }
int32_t sync_ok(Transport& bus, CommandArgs) { return probe_bit(bus, kLockSync); }
int32_t cr_ok(Transport& bus, CommandArgs) { return probe_bit(bus, kLockCr); }
int32_t fec_ok(Transport& bus, CommandArgs) { return probe_bit(bus, kLockFec); }

}  // namespace demodctl
