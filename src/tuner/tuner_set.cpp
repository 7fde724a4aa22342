// tuner_set: identity check, then the chosen tuner driver's start-up and setting, with the
// demodulator's register 0x33 bit 1 set between the two; progress goes to the debug log.
#include "cli/debug_log.h"
#include "cli/result_line.h"
#include "tuner/rda5815.h"
#include "tuner/tuner0.h"
#include "tuner/tuner_commands.h"

namespace demodctl {
namespace {

constexpr uint8_t kRegTunerControl = 0x33;  // bit 1 set between the tuner's start-up and setting
constexpr uint8_t kTunerControlBit = 0x02;
constexpr int32_t kTunerType0 = 0;
constexpr int32_t kTunerRda5815 = 1;
// Identity bytes of a board whose tuner is wired to the bus directly, not behind the repeater.
constexpr Identity kDirectTunerId = {0x10, 0x01, 0x36, 0x31};

// Reads 0x33 and writes it back with bit 1 set, the other bits as read. 0 or -1.
int set_tuner_control(Transport& bus) {
  const auto value = demod_read_reg(bus, kRegTunerControl);
  if (!value) return -1;
  return demod_write_reg(bus, kRegTunerControl, static_cast<uint8_t>(*value | kTunerControlBit));
}

// The driver of the tuner type: start-up, 0x33, setting. 0 or -1.
int drive_tuner(Transport& bus, int32_t type, int32_t freq, int32_t bw, bool tuner_direct) {
  if (type == kTunerType0) {
    if (tuner0_init(bus, tuner_device, tuner_direct) != 0) return -1;
    if (set_tuner_control(bus) != 0) return -1;
    return tuner0_set(bus, freq, bw / 2, tuner_device, tuner_direct);
  }
  if (type == kTunerRda5815) {
    if (rda5815_init(bus, tuner_device, tuner_direct) != 0) return -1;
    debug_log_printf("rda5815_init ends\n");
    if (set_tuner_control(bus) != 0) return -1;
    if (rda5815_set(bus, freq, bw, tuner_device, tuner_direct) != 0) return -1;
    debug_log_printf("rda5815_set ends\n");
  }
  return 0;  // any other type: no driver, 0x33 left alone
}

}  // namespace

int32_t tuner_set(Transport& bus, CommandArgs args) {
  if (bus.open_connection() != 0) return -1;
  debug_log_open("w+");  // a log that cannot be opened is skipped; the result does not depend on it
  debug_log_banner("tuner_set begining!");
  const int32_t type = to_int(args[2]);
  const int32_t freq = to_int(args[3]);
  const int32_t bw = to_int(args[4]);
  bus.set_speed(tuner_device);  // the tuner's channel on the register server
  debug_log_printf("tuner_type=%d,freq=%d,bw=%d\n", type, freq, bw);

  Identity id{};
  const ChipId chip = check_chip_id(bus, id);
  if (chip == ChipId::failed) return -1;
  if (chip == ChipId::absent) {  // the log keeps its two lines and is closed at exit
    print_result(kMsgChipAbsent, 1);
    bus.close_connection();
    return 0;
  }
  const bool tuner_direct = id == kDirectTunerId;
  if (drive_tuner(bus, type, freq, bw, tuner_direct) != 0) return -1;
  debug_log_banner("tuner_set ends!");
  debug_log_close();
  print_result(kMsgOk, 0);
  bus.close_connection();
  return 0;
}

}  // namespace demodctl
