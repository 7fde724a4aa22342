#include "regtool/register_space.h"

#include "tuner/tuner_bus.h"

namespace demodctl::regtool {

Result<void> tuner_transfer(BoardBus& bus, const I2cDevice& tuner, bool direct, uint8_t reg,
                            std::span<uint8_t> in, std::span<const uint8_t> out) {
  TunerBus tuner_bus(bus, tuner, direct ? TunerWiring::direct : TunerWiring::behind_gate);
  if (!out.empty()) return tuner_bus.write_regs(reg, out);
  return tuner_bus.read_regs(reg, in);
}

Result<void> read_regs(const RegisterSpace& space, uint8_t reg, std::span<uint8_t> out) {
  if (space.tuner) return tuner_transfer(space.bus, *space.tuner, space.tuner_direct, reg, out, {});
  return space.bus.demod_read_regs(reg, out);
}

Result<void> write_regs(const RegisterSpace& space, uint8_t reg, std::span<const uint8_t> data) {
  if (space.tuner) {
    return tuner_transfer(space.bus, *space.tuner, space.tuner_direct, reg, {}, data);
  }
  return space.bus.demod_write_regs(reg, data);
}

}  // namespace demodctl::regtool
