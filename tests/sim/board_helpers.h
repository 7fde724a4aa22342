// Short forms of bus transactions on a SimBoard, by 8-bit address byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_board.h"

namespace demodctl::test {

inline constexpr uint8_t kDemod = 0xD0;
inline constexpr uint8_t kTuner = 0xC0;

// Writes {reg, data...}; true when acknowledged.
inline bool write(SimBoard& board, uint8_t address, uint8_t reg, std::vector<uint8_t> data) {
  data.insert(data.begin(), reg);
  return board.transfer(static_cast<uint8_t>(address >> 1), data, {});
}

// Reads count bytes from reg; nothing when not acknowledged.
inline std::optional<std::vector<uint8_t>> read(SimBoard& board, uint8_t address, uint8_t reg,
                                                std::size_t count) {
  std::vector<uint8_t> rx(count);
  const uint8_t tx[] = {reg};
  if (!board.transfer(static_cast<uint8_t>(address >> 1), tx, rx)) return std::nullopt;
  return rx;
}

inline uint8_t read1(SimBoard& board, uint8_t reg) {
  auto bytes = read(board, kDemod, reg, 1);
  return bytes ? (*bytes)[0] : 0xEE;  // 0xEE marks a refused read in expectations
}

inline std::unique_ptr<SimBoard> board_from(const std::string& json) {
  std::string error;
  auto board = SimBoard::from_json_text(json, &error);
  if (!board) ADD_FAILURE() << error;
  return board;
}

}  // namespace demodctl::test
