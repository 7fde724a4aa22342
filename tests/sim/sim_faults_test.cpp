#include <gtest/gtest.h>

#include "board_helpers.h"

namespace demodctl::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimFaults, FailOpsRefusesExactlyTheListedTransactions) {
  auto board = board_from(R"({"faults": {"fail_ops": [2, "4"]}})");
  ASSERT_TRUE(board);
  std::vector<bool> acked;
  for (uint8_t i = 0; i < 5; ++i) acked.push_back(write(*board, kDemod, 0x40, {i}));
  EXPECT_EQ(acked, (std::vector<bool>{true, false, true, false, true}));
  EXPECT_EQ(board->demod_reg(0x40), 4);
  EXPECT_FALSE(board->take_drop_request());
}

TEST(SimFaults, RefusedTunerTransactionsCountAsOperations) {
  auto board = board_from(R"({"faults": {"fail_ops": [2]}})");
  ASSERT_TRUE(board);
  EXPECT_FALSE(write(*board, kTuner, 0x00, {0x01}));  // op 1: repeater closed
  EXPECT_FALSE(write(*board, kDemod, 0x40, {0x01}));  // op 2: injected failure
  EXPECT_TRUE(write(*board, kDemod, 0x40, {0x02}));   // op 3
}

TEST(SimFaults, RefusedTunerTransactionUsesUpTheRepeaterOpening) {
  auto board = board_from(R"({"faults": {"fail_ops": [2]}})");
  ASSERT_TRUE(board);
  EXPECT_TRUE(write(*board, kDemod, 0x2D, {0x01}));   // op 1
  EXPECT_FALSE(write(*board, kTuner, 0x00, {0x01}));  // op 2: refused
  EXPECT_FALSE(write(*board, kTuner, 0x00, {0x01}));  // op 3: repeater closed again
  EXPECT_EQ(board->tuner_reg(kTuner, 0x00), 0);
}

TEST(SimFaults, DropAtOpsRaisesOneDropRequest) {
  auto board = board_from(R"({"faults": {"drop_at_ops": [3]}})");
  ASSERT_TRUE(board);
  EXPECT_TRUE(write(*board, kDemod, 0x40, {0x01}));
  EXPECT_TRUE(write(*board, kDemod, 0x40, {0x02}));
  EXPECT_FALSE(board->take_drop_request());
  EXPECT_FALSE(write(*board, kDemod, 0x40, {0x03})) << "dropped transaction is not performed";
  EXPECT_EQ(board->demod_reg(0x40), 0x02);
  EXPECT_TRUE(board->take_drop_request());
  EXPECT_FALSE(board->take_drop_request()) << "reported once";
  EXPECT_TRUE(write(*board, kDemod, 0x40, {0x04})) << "the board itself goes on";
}

struct RegisterFaultCase {
  const char* name;
  Bytes tx;
  std::size_t rx;
  bool acked;
};

TEST(SimFaults, FailRegistersRefusesAnyRangeCoveringIt) {
  const RegisterFaultCase cases[] = {
      {"single write to it", {0x2E, 0x01}, 0, false},
      {"single read of it", {0x2E}, 1, false},
      {"multi write across it", {0x2C, 0x3F, 0x01, 0x01}, 0, false},
      {"multi read across it", {0x2A}, 5, false},
      {"read ending just before", {0x2A}, 4, true},
      {"read starting just after", {0x2F}, 4, true},
      {"pointer only", {0x2E}, 0, true},
      {"read wrapping round to it", {0xF0}, 0x40, false},
  };
  for (const auto& c : cases) {
    auto board =
        board_from(R"({"faults": {"fail_registers": [{"address": "0xD0", "register": "0x2E"}]}})");
    ASSERT_TRUE(board);
    Bytes rx(c.rx);
    EXPECT_EQ(board->transfer(kDemod >> 1, c.tx, rx), c.acked) << c.name;
    EXPECT_EQ(board->demod_reg(0x2E), 0x00) << c.name << ": never written";
    EXPECT_EQ(board->demod_reg(0x2D), 0x00) << c.name << ": nothing of a refused write applied";
  }
}

TEST(SimFaults, FailRegistersOnATunerLeavesTheDemodulatorAlone) {
  auto board = board_from(R"({"tuners": [{"address": "0xC0", "behind_repeater": false}],
      "faults": {"fail_registers": [{"address": "0xC0", "register": 5}]}})");
  ASSERT_TRUE(board);
  EXPECT_FALSE(write(*board, kTuner, 0x05, {0x01}));
  EXPECT_TRUE(write(*board, kTuner, 0x06, {0x01}));
  EXPECT_TRUE(write(*board, kDemod, 0x05, {0x01}));
}

TEST(SimFaults, StuckLowBitsNeverRise) {
  auto board = board_from(R"({"demod": {"registers": {"0x38": "0x86", "0x2C": "0x3F"}},
      "faults": {"stuck_low": [{"register": "0x38", "mask": "0x80"},
                               {"address": "0xD0", "register": "0x2C", "mask": "0x20"}]}})");
  ASSERT_TRUE(board);
  EXPECT_EQ(read(*board, kDemod, 0x37, 2), (Bytes{0x00, 0x06}));
  ASSERT_TRUE(write(*board, kDemod, 0x38, {0xFF}));
  EXPECT_EQ(read1(*board, 0x38), 0x7F);
  EXPECT_EQ(board->demod_reg(0x38), 0xFF) << "stored value is kept";
  EXPECT_EQ(read1(*board, 0x2C), 0x1F) << "FEC flag never rises";
}

TEST(SimFaults, FaultyScenarioFileTellsItsStory) {
  std::string error;
  auto board = SimBoard::from_file(SCENARIO_DIR "/faulty.json", &error);
  ASSERT_TRUE(board) << error;
  EXPECT_EQ(read(*board, kDemod, 0x6C, 4), (Bytes{0x01, 0x00, 0x36, 0x31}));  // op 1
  EXPECT_EQ(read1(*board, 0x38), 0x06);                                       // op 2
  EXPECT_FALSE(write(*board, kDemod, 0x2E, {0x01}));                          // op 3
  EXPECT_EQ(read1(*board, 0x2C), 0x3F);                                       // op 4
  EXPECT_FALSE(read(*board, kDemod, 0x2C, 1));                                // op 5
}

}  // namespace
}  // namespace demodctl::test
