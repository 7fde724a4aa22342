// A register dump: which registers were read and what they held, read in as few transfers as the
// registers allow, and shown as i2cdump's grid, as a table of the map's fields, or as JSON.
//
// JSON (`dump --json`), one object:
//   {"format": "demodreg-dump", "version": 1, "space": "demod" | "tuner 0xC0",
//    "registers": {"0x2c": "0x3f", ...}}
// register and byte both as 0x and two lower-case hex digits; a register not dumped is absent.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "demod/register_map.h"
#include "regtool/register_space.h"

namespace demodctl::regtool {

inline constexpr std::size_t kRegisterCount = 256;

struct Dump {
  std::string space = "demod";  // "demod", or "tuner 0xC0"
  std::array<std::optional<uint8_t>, kRegisterCount> bytes{};
};

// Which registers a dump reads: every register of the map's fields (an empty range), or
// first..last; a register whose read has side effects only when `side_effects`.
std::array<bool, kRegisterCount> dump_plan(std::optional<std::pair<uint8_t, uint8_t>> range,
                                           bool side_effects, bool tuner);

// Reads the planned registers, each run between the first and the last wanted register that
// holds no side-effect register in one transfer (the register server: one request).
Result<Dump> read_dump(const RegisterSpace& space, const std::array<bool, kRegisterCount>& plan);

// i2cdump's grid: a header, one row of 16 per line that holds a dumped register, "--" where a
// register was not dumped.
std::string dump_grid(const Dump& dump);
// One line per field of the map whose registers were all dumped: register, name, value.
std::string dump_named(const Dump& dump);
std::string dump_json(const Dump& dump);
// A dump back from its JSON; FaultKind::file (one line) when it is not one.
Result<Dump> parse_dump(std::string_view text);

// A field's value from its registers (low byte first); nothing when one was not dumped.
std::optional<uint32_t> field_value(const Field& field, const Dump& dump);

}  // namespace demodctl::regtool
