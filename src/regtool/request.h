// One demodreg run as its command line asks for it, every number and name already checked:
//   demodreg [OPTIONS] BOARD get REG [COUNT] | get NAME
//   demodreg [OPTIONS] BOARD set REG BYTE... | set NAME VALUE
//   demodreg [OPTIONS] BOARD dump [FIRST [LAST]]
//   demodreg [OPTIONS] BOARD diff DUMP         demodreg diff DUMP DUMP
//   demodreg [OPTIONS] BOARD watch NAME|REG...
//   demodreg [OPTIONS] BOARD scan
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "adapters/board_name.h"
#include "demod/register_map.h"
#include "result/result.h"

namespace demodctl::regtool {

enum class Command { get, set, dump, diff, watch, scan, help, version };

// A register by number, or a field of the map by name.
struct Selector {
  std::optional<Field> field;
  uint8_t reg = 0;
};

struct Request {
  Command command = Command::help;
  std::optional<BoardTarget> board;
  std::vector<Selector> selectors;                   // get and set: one; watch: one or more
  unsigned count = 1;                                // get REG COUNT
  std::vector<uint32_t> values;                      // set: the bytes, or the field's value
  std::optional<std::pair<uint8_t, uint8_t>> range;  // dump FIRST LAST
  std::vector<std::string> files;                    // diff's dumps
  std::optional<int32_t> tuner;                      // --tuner ADDRESS
  bool scan_tuner = false;                           // scan --tuner
  bool yes = false;                                  // -y
  bool named = false;                                // dump --named
  bool json = false;                                 // dump --json
  bool side_effects = false;                         // dump --side-effects
  std::optional<uint64_t> watch_count;               // watch --count N (reads)
  unsigned interval_ms = 1000;                       // watch --interval MS
};

// The words after the program name; FaultKind::usage (one line naming the argument) when they do
// not make a request.
Result<Request> parse_request(const std::vector<std::string>& words);

// The field of the map called `name`, if any.
std::optional<Field> field_named(std::string_view name);

}  // namespace demodctl::regtool
