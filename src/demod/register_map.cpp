#include "demod/register_map.h"

#include <algorithm>
#include <tuple>

#include "bus/board_bus.h"

namespace demodctl {
namespace {

constexpr Field kMap[] = {
    reg::chip_reset,     reg::reference_khz,  reg::lock_times,    reg::lock_status,
    reg::lock_agc,       reg::lock_cbs,       reg::lock_tr,       reg::lock_sync,
    reg::lock_cr,        reg::lock_fec,       reg::repeater_open, reg::core_reset,
    reg::capture_format, reg::tuner_path,     reg::agc_level,     reg::agc_ready,
    reg::symbol_offset,  reg::carrier_offset, reg::pilots,        reg::short_frame,
    reg::modcod,         reg::identity,       reg::noise_low,     reg::noise_high,
    reg::noise_valid,    reg::ber_window,     reg::error_count,   reg::fec_directv,
    reg::fec_code_rate,  reg::vcm_constant,   reg::rolloff,       reg::init_done,
    reg::capture_start,  reg::capture_done,   reg::capture_data,
};

// A reader takes the table in register order, bits low to high.
static_assert(std::ranges::is_sorted(kMap, [](const Field& a, const Field& b) {
  return a.reg != b.reg ? a.reg < b.reg : a.shift < b.shift;
}));
// The transport keeps what the identity check read in bytes of its own.
static_assert(reg::identity.bytes() == std::tuple_size_v<Identity>);

}  // namespace

std::span<const Field> register_map() { return kMap; }

}  // namespace demodctl
