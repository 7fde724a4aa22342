#include "cli/command_table.h"

#include <algorithm>

#include "capture/capture_commands.h"
#include "cli/print_conn.h"
#include "cli/requests.h"
#include "demod/demod_commands.h"
#include "measure/formulas.h"
#include "measure/measure_commands.h"
#include "outcome/result_line.h"
#include "tuner/tuner_commands.h"

namespace demodctl {
namespace {

constexpr Frame kNone = Frame::none;
constexpr Frame kIdentity = Frame::identity;
constexpr AbsentReply kChipAbsent = {kMsgChipAbsent, 1};

// A command that takes nothing but the open connection.
template <Outcome (*Command)(BoardBus&)>
Outcome plain(BoardBus& bus, const Invocation&) {
  return Command(bus);
}

Outcome ad_smp_row(BoardBus& bus, const Invocation& c) { return ad_smp(bus, capture_request(c)); }
Outcome fft_print_row(BoardBus& bus, const Invocation& c) { return fft_print(bus, c.verbose); }
Outcome symbol_err_row(BoardBus& bus, const Invocation& c) {
  return symbol_err(bus, *c.log, c.verbose);
}
Outcome tuner_set_row(BoardBus& bus, const Invocation& c) {
  return tuner_set(bus, tune_request(c), *c.log);
}

// Compared in this order; the unknown-name status comes from the last row.
constexpr Command kCommands[] = {
    {"print_conn", print_conn, kNone},
    {"on_line", plain<on_line>, kIdentity, {kMsgOkComma, 0}},
    {"agc_ok", plain<agc_ok>},
    {"cbs_ok", plain<cbs_ok>},
    {"tr_ok", plain<tr_ok>},
    {"sync_ok", plain<sync_ok>},
    {"cr_ok", plain<cr_ok>},
    {"fec_ok", plain<fec_ok>},
    {"chip_init", plain<chip_init>, kIdentity, kChipAbsent},
    {"hot_rst", plain<hot_rst>, kIdentity, kChipAbsent},
    {"dvb_standard", plain<dvb_standard>},
    // capture_mode, which may be left out
    {"ad_smp", ad_smp_row, kIdentity, kChipAbsent, 1, 1},
    {"sig_str", plain<sig_str>, kIdentity, {kMsgOk, 0}},  // an absent chip has strength 0
    {"cn_read", plain<cn_read>, kIdentity, {kMsgOk, static_cast<double>(kNoCnEstimate)}},  // -10.0
    {"ber_calc", plain<ber_calc>},
    {"lock_time", plain<lock_time>},
    {"carrier_err", plain<carrier_err>},
    {"symbol_err", symbol_err_row},
    {"fft_print", fft_print_row},
    // tuner channel (socket), address, type, freq, bw; its own identity check, after the lines
    // the debug log keeps even when no chip answers
    {"tuner_set", tuner_set_row, Frame::connection, {}, 5, 0, true},
};

static_assert(std::ranges::all_of(kCommands, [](const Command& c) {
  return c.optional_own >= 0 && c.optional_own <= c.own_args &&
         (c.frame == Frame::identity) == (c.absent.message != nullptr);
}));

}  // namespace

std::span<const Command> command_table() { return kCommands; }

}  // namespace demodctl
