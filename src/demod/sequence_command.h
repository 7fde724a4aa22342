// The frame shared by commands that check the chip and then write a fixed register sequence:
// "chip not connected, failed" with 1 when the identity does not match (nothing written), else
// the rows and "ok" with 1.
#pragma once

#include <cstdint>
#include <span>

#include "bus/reg_rows.h"

namespace demodctl {

int32_t run_write_sequence(Transport& bus, std::span<const RegRow> rows);

}  // namespace demodctl
