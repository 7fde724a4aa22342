#include "cli/command_table.h"

#include <algorithm>

#include "capture/capture_commands.h"
#include "cli/print_conn.h"
#include "demod/demod_commands.h"
#include "measure/formulas.h"
#include "measure/measure_commands.h"
#include "output/result_line.h"
#include "tuner/tuner_commands.h"

namespace demodctl {
namespace {

constexpr Frame kNone = Frame::none;
constexpr Frame kIdentity = Frame::identity;
constexpr AbsentReply kChipAbsent = {kMsgChipAbsent, 1};

// Compared in this order; the unknown-name status comes from the last row.
constexpr Command kCommands[] = {
    {"print_conn", print_conn, kNone},
    {"on_line", on_line, kIdentity, {kMsgOkComma, 0}},
    {"agc_ok", agc_ok},
    {"cbs_ok", cbs_ok},
    {"tr_ok", tr_ok},
    {"sync_ok", sync_ok},
    {"cr_ok", cr_ok},
    {"fec_ok", fec_ok},
    {"chip_init", chip_init, kIdentity, kChipAbsent},
    {"hot_rst", hot_rst, kIdentity, kChipAbsent},
    {"dvb_standard", dvb_standard},
    // capture_mode; left out, the name there reads as 0
    {"ad_smp", ad_smp, kIdentity, kChipAbsent, 1, 1},
    {"sig_str", sig_str, kIdentity, {kMsgOk, 0}},  // an absent chip has strength 0
    {"cn_read", cn_read, kIdentity, {kMsgOk, static_cast<double>(kNoCnEstimate)}},  // -10.000000
    {"ber_calc", ber_calc},
    {"lock_time", lock_time},
    {"carrier_err", carrier_err},
    {"symbol_err", symbol_err},
    {"fft_print", fft_print},
    // tuner channel (socket), address, type, freq, bw; its own identity check, after the lines
    // the debug log keeps even when no chip answers
    {"tuner_set", tuner_set, Frame::connection, {}, 5, 0, true, true},
};

static_assert(std::ranges::all_of(kCommands, [](const Command& c) {
  return c.optional_own >= 0 && c.optional_own <= c.own_args && c.optional_own <= kNameAndFlag &&
         (c.frame == Frame::identity) == (c.absent.message != nullptr);
}));

}  // namespace

std::span<const Command> command_table() { return kCommands; }

}  // namespace demodctl
