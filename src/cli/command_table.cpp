#include "cli/command_table.h"

#include <algorithm>

#include "capture/capture_commands.h"
#include "cli/print_conn.h"
#include "demod/demod_commands.h"
#include "measure/measure_commands.h"
#include "tuner/tuner_commands.h"

namespace demodctl {
namespace {

// Compared in this order; the unknown-name status comes from the last row.
constexpr Command kCommands[] = {
    {"print_conn", print_conn, false, 0},
    {"on_line", on_line, true, 0},
    {"agc_ok", agc_ok, true, 0},
    {"cbs_ok", cbs_ok, true, 0},
    {"tr_ok", tr_ok, true, 0},
    {"sync_ok", sync_ok, true, 0},
    {"cr_ok", cr_ok, true, 0},
    {"fec_ok", fec_ok, true, 0},
    {"chip_init", chip_init, true, 0},
    {"hot_rst", hot_rst, true, 0},
    {"dvb_standard", dvb_standard, true, 0},
    {"ad_smp", ad_smp, true, 1, 1},  // capture_mode; left out, the name there reads as 0
    {"sig_str", sig_str, true, 0},
    {"cn_read", cn_read, true, 0},
    {"ber_calc", ber_calc, true, 0},
    {"lock_time", lock_time, true, 0},
    {"carrier_err", carrier_err, true, 0},
    {"symbol_err", symbol_err, true, 0},
    {"fft_print", fft_print, true, 0},
    {"tuner_set", tuner_set, true, 5, 0, true},  // tuner channel (socket), address, type, freq, bw
};

static_assert(std::ranges::all_of(kCommands, [](const Command& c) {
  return c.optional_own >= 0 && c.optional_own <= c.own_args && c.optional_own <= kNameAndFlag;
}));

}  // namespace

std::span<const Command> command_table() { return kCommands; }

}  // namespace demodctl
