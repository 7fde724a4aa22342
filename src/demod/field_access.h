// Fields of the register map on an open connection, as regmap reads and updates them: one read
// of the field's register, and a read-modify-write that keeps the register's other bits.
#pragma once

#include <cstdint>

#include "bus/board_bus.h"
#include "demod/register_map.h"

namespace demodctl {

// One read of the field's register; the field's value, shifted down.
Result<uint8_t> read_field(BoardBus& bus, const Field& field);

// Reads the field's register and writes it back with the field set to `value`, every other bit as
// read: one read, one write. Nothing is written after a refused read.
Result<void> update_bits(BoardBus& bus, const Field& field, uint8_t value);

}  // namespace demodctl
