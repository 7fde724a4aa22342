// The simulated board: register pointer, repeater, lock model, faults, scenario errors.
#include "sim/sim_board.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace demodctl {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kDemod = 0xD0;  // 8-bit address bytes
constexpr uint8_t kTuner = 0xC0;

bool write(SimBoard& board, uint8_t address, uint8_t reg, Bytes data) {
  data.insert(data.begin(), reg);
  return board.transfer(static_cast<uint8_t>(address >> 1), data, {});
}
// The bytes read from reg; nothing when not acknowledged.
std::optional<Bytes> read(SimBoard& board, uint8_t address, uint8_t reg, size_t count) {
  Bytes rx(count);
  const uint8_t tx[] = {reg};
  if (!board.transfer(static_cast<uint8_t>(address >> 1), tx, rx)) return std::nullopt;
  return rx;
}
// Successive reads of the lock status register 0x2C.
Bytes lock_reads(SimBoard& board, int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) out.push_back(read(board, kDemod, 0x2C, 1).value_or(Bytes{0xEE})[0]);
  return out;
}
std::unique_ptr<SimBoard> board_from(const std::string& json) {
  std::string error;
  auto board = SimBoard::from_json_text(json, &error);
  EXPECT_TRUE(board) << error;
  return board;
}

TEST(SimBoard, PointerAutoIncrementsAndWraps) {
  const struct {
    Bytes tx;  // register pointer, then data written
    size_t rx;
    Bytes expect_rx;
    uint8_t check_reg;  // holds check_value afterwards
    uint8_t check_value;
  } cases[] = {
      {{0x10, 0xA1, 0xA2, 0xA3}, 0, {}, 0x12, 0xA3},
      {{0xFE, 0x11, 0x22, 0x33}, 0, {}, 0x00, 0x33},
      {{0x6C}, 4, {0x01, 0x00, 0x36, 0x31}, 0x6F, 0x31},  // identity
      {{0xFF}, 3, {0x00, 0x00, 0x00}, 0xFF, 0x00},
  };
  for (const auto& c : cases) {
    auto board = SimBoard::make_default();
    Bytes rx(c.rx);
    ASSERT_TRUE(board->transfer(kDemod >> 1, c.tx, rx));
    EXPECT_EQ(rx, c.expect_rx) << int(c.tx[0]);
    EXPECT_EQ(board->demod_reg(c.check_reg), c.check_value) << int(c.tx[0]);
  }
}

TEST(SimBoard, RepeaterPassesExactlyOneTunerTransaction) {
  auto board = SimBoard::make_default();
  EXPECT_FALSE(write(*board, kTuner, 0x05, {0x11})) << "closed repeater";
  ASSERT_TRUE(write(*board, kDemod, 0x2D, {0x01}));
  EXPECT_TRUE(read(*board, kDemod, 0x6C, 4)) << "demodulator traffic leaves it open";
  EXPECT_TRUE(write(*board, kTuner, 0x05, {0x22, 0x33}));
  EXPECT_FALSE(write(*board, kTuner, 0x05, {0x44})) << "closed after one transaction";
  EXPECT_EQ(board->demod_reg(0x2D), 0x00);
  ASSERT_TRUE(write(*board, kDemod, 0x2D, {0x01}));
  EXPECT_EQ(read(*board, kTuner, 0x05, 2), (Bytes{0x22, 0x33}));
}

TEST(SimBoard, DirectTunerIsAlwaysReachable) {
  auto board = board_from(R"({"tuners": [{"address": "0xC0", "behind_repeater": false}]})");
  ASSERT_TRUE(board);
  for (uint8_t i = 1; i <= 3; ++i) EXPECT_TRUE(write(*board, kTuner, 0x01, {i}));
  EXPECT_EQ(board->tuner_reg(kTuner, 0x01), 3);
}

TEST(SimBoard, HotResetHoldsThenReacquiresInStages) {
  const struct {
    const char* scenario;
    Bytes after_restart;  // 0x2C reads after hot reset 0x01, then 0x03
  } cases[] = {
      {R"({"demod": {"registers": {"0x2C": 63}}})", {0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x3F}},
      {R"({"demod": {"registers": {"0x2C": "0x37"}}})", {0x01, 0x03, 0x07, 0x07, 0x17, 0x37}},
      {R"({"demod": {"registers": {"0x2C": 63}}, "acquisition_reads_per_stage": 2})",
       {0x01, 0x01, 0x03, 0x03, 0x07, 0x07, 0x0F}},
  };
  for (const auto& c : cases) {
    auto board = board_from(c.scenario);
    ASSERT_TRUE(board);
    ASSERT_TRUE(write(*board, kDemod, 0x2E, {0x01}));
    EXPECT_EQ(lock_reads(*board, 3), (Bytes{0, 0, 0})) << c.scenario << ": held in reset";
    ASSERT_TRUE(write(*board, kDemod, 0x2E, {0x03}));
    EXPECT_EQ(lock_reads(*board, int(c.after_restart.size())), c.after_restart) << c.scenario;
  }
}

TEST(SimBoard, InitSequenceStopsAndRestartsAcquisition) {
  auto board = SimBoard::make_default();
  const std::pair<uint8_t, uint8_t> steps[] = {
      {0x0C, 0x52}, {0x00, 0x81}, {0x00, 0x01}, {0x05, 0x81}, {0x05, 0x01},
      {0x04, 0x04}, {0x09, 0x0E}, {0x0C, 0x42}, {0x0A, 0x5A}, {0x0A, 0x4A}};
  for (const auto& [reg, value] : steps) ASSERT_TRUE(write(*board, kDemod, reg, {value}));
  EXPECT_EQ(lock_reads(*board, 2), (Bytes{0x00, 0x00})) << "stopped until 0xA8 is written";
  ASSERT_TRUE(write(*board, kDemod, 0xA8, {0x80}));
  EXPECT_EQ(lock_reads(*board, 7), (Bytes{0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x3F}));
}

TEST(SimBoard, FailOpsAndDropAtOpsHitExactlyTheListedTransactions) {
  auto board = board_from(R"({"faults": {"fail_ops": [2, "4"], "drop_at_ops": [5]}})");
  ASSERT_TRUE(board);
  std::vector<bool> acked;
  std::vector<bool> drops;
  for (uint8_t i = 1; i <= 6; ++i) {
    acked.push_back(write(*board, kDemod, 0x40, {i}));
    drops.push_back(board->take_drop_request());
  }
  EXPECT_EQ(acked, (std::vector<bool>{true, false, true, false, false, true}));
  EXPECT_EQ(drops, (std::vector<bool>{false, false, false, false, true, false}));
  EXPECT_EQ(board->demod_reg(0x40), 6);
}

TEST(SimBoard, FailRegistersRefusesAnyRangeCoveringIt) {
  const struct {
    Bytes tx;
    size_t rx;
    bool acked;
  } cases[] = {
      {{0x2E, 0x01}, 0, false}, {{0x2E}, 1, false}, {{0x2C, 0x3F, 0x01, 0x01}, 0, false},
      {{0x2A}, 4, true},        {{0x2F}, 4, true},  {{0x2E}, 0, true},  // pointer only
      {{0xF0}, 0x40, false},                                            // wraps round to it
  };
  for (const auto& c : cases) {
    auto board = board_from(R"({"faults": {"fail_registers": [{"register": "0x2E"}]}})");
    ASSERT_TRUE(board);
    Bytes rx(c.rx);
    EXPECT_EQ(board->transfer(kDemod >> 1, c.tx, rx), c.acked) << int(c.tx[0]) << "+" << c.rx;
    EXPECT_EQ(board->demod_reg(0x2D), 0x00) << "nothing of a refused write applied";
  }
}

TEST(SimBoard, StuckLowBitsNeverRise) {
  auto board = board_from(R"({"demod": {"registers": {"0x38": "0x86", "0x2C": "0x3F"}},
      "faults": {"stuck_low": [{"register": "0x38", "mask": "0x80"},
                               {"address": "0xD0", "register": "0x2C", "mask": "0x20"}]}})");
  ASSERT_TRUE(board);
  EXPECT_EQ(read(*board, kDemod, 0x37, 2), (Bytes{0x00, 0x06}));
  ASSERT_TRUE(write(*board, kDemod, 0x38, {0xFF}));
  EXPECT_EQ(read(*board, kDemod, 0x38, 1), Bytes{0x7F});
  EXPECT_EQ(board->demod_reg(0x38), 0xFF) << "stored value is kept";
  EXPECT_EQ(lock_reads(*board, 1), Bytes{0x1F}) << "FEC flag never rises";
}

TEST(Scenario, MalformedInputsGiveNullAndOneLineMessage) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "not JSON"},
      {"[]", "top level: expected an object"},
      {R"({"demod": {"adress": "0xD0"}})", "demod: unknown key 'adress'"},
      {R"({"demod": {"address": "0xD1"}})", "must be even"},
      {R"({"demod": {"address": 256}})", "demod.address: expected a number from 0 to 255"},
      {R"({"demod": {"address": "0x1000000000000000000"}})", "255, got 0x1000000000000000000"},
      {R"({"demod": {"address": -2}})", "demod.address: expected a number from 0 to 255, got -2"},
      {R"({"faults": {"fail_ops": [1, -1e999]}})", "fail_ops[1]: number -1e999 out of range"},
      {R"({"demod": {"address": 208, "address": 210}})", "demod: duplicate key 'address'"},
      {R"({"tuners": [{}, {"address": 2, "address": 2}]})", "tuners[1]: duplicate key 'address'"},
      {R"({"demod": {"registers": {"0x2C": 1, "44": 2}}})", "44: register 0x2C given twice"},
      {R"({"demod": {"identity": "01 00 36"}})", "expected 4 hex bytes"},
      {R"({"tuners": [{"address": "0xD0"}]})", "already used"},
      {R"({"channels": [0, 0]})", "listed twice"},
      {R"({"faults": {"fail_ops": [0]}})", "faults.fail_ops[0]: expected a number from 1"},
      {R"({"bad\nkey": 1})", "unknown key 'bad?key'"},
      {std::string(100, '[') + std::string(100, ']'), "nesting deeper than"},
  };
  for (const auto& [text, problem] : cases) {
    std::string error;
    EXPECT_FALSE(SimBoard::from_json_text(text, &error)) << text;
    EXPECT_EQ(error.rfind("scenario: ", 0), 0U) << error;
    EXPECT_NE(error.find(problem), std::string::npos) << text << " -> " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace demodctl
