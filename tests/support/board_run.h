// One run of the real demodctl on a fresh simulated board, over either transport, with its bus
// trace in a short text form for comparing and reviewing.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

namespace demodctl::testing {

enum class Via { socket, usb };

struct BoardRun {
  ProcResult result;
  std::string trace;  // compact_trace() of the run's bus operations
};

// `demodctl [transport arguments] OWN... COMMAND FLAG` in cwd, on a board built from the scenario
// file: served by a regserver of its own (socket) or made in the process (usb).
BoardRun run_on_board(Via via, const std::string& scenario, const std::vector<std::string>& own,
                      const std::string& command, const std::string& cwd,
                      const std::vector<std::string>& env = {});

// A JSON Lines bus trace, one line per operation: "w D0 2E 01", "r D0 2C -> 20", "r D0 EF nack",
// "speed 100" (with "ch3 " in front on a channel other than 0). A line repeated is written once
// with " xN"; a run of 16 or more reads of one register whose data changes becomes "r D0 EF -> ..
// xN fnv1a=HASH", HASH being of the data read.
std::string compact_trace(const std::string& jsonl);

// The 32-bit FNV-1a hash of the text, 8 hex digits.
std::string fnv1a_hex(const std::string& text);

}  // namespace demodctl::testing
