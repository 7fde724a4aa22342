// The mode report on the registers the bit error rate reading has read.
#include "measure/mode_after_ber.h"

#include "demod/register_map.h"

namespace demodctl {

Result<ModeReport> read_mode_after_ber(BoardBus& bus, const BerReading& ber) {
  ModeReport m;
  // Without FEC lock the BER reading read no mode register, and the standard is unknown.
  if (!ber.figure) return m;
  if (!reg::lock_sync.set_in(ber.lock_status)) {
    m.standard = reg::fec_directv.set_in(ber.mode) ? Standard::directv : Standard::dvbs;
    m.rate_code = reg::fec_code_rate.get(ber.mode);
    return m;
  }
  m.standard = Standard::dvbs2;
  const Result<uint8_t> vcm = demod_read_reg(bus, reg::vcm_constant.reg);
  if (!vcm) return vcm.error();
  m.vcm = !reg::vcm_constant.set_in(*vcm);
  if (m.vcm) return m;  // variable coding: no MODCOD to report
  const Result<uint8_t> rolloff = demod_read_reg(bus, reg::rolloff.reg);
  if (!rolloff) return rolloff.error();
  m.modcod = reg::modcod.get(ber.mode);
  m.short_frame = reg::short_frame.set_in(ber.mode);
  m.pilots = reg::pilots.set_in(ber.mode);
  m.rolloff_code = reg::rolloff.get(*rolloff);
  return m;
}

}  // namespace demodctl
