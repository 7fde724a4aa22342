#include <gtest/gtest.h>

#include "board_helpers.h"

namespace demodctl::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimBus, DefaultIdentityAndPicture) {
  auto board = SimBoard::make_default();
  EXPECT_EQ(read(*board, kDemod, 0x6C, 4), (Bytes{0x01, 0x00, 0x36, 0x31}));
  EXPECT_EQ(read(*board, kDemod, 0x37, 2), (Bytes{0x34, 0x86}));
  const std::pair<uint8_t, uint8_t> picture[] = {{0x2C, 0x3F}, {0x97, 0x80}, {0x5C, 0x39},
                                                 {0x9D, 0x00}, {0x8E, 0x00}, {0x00, 0x00}};
  for (auto [reg, value] : picture) EXPECT_EQ(read1(*board, reg), value) << int(reg);
  EXPECT_EQ(board->channels(), std::vector<int>{0});
}

struct PointerCase {
  const char* name;
  Bytes tx;        // first byte = register pointer
  std::size_t rx;  // bytes read after the writes
  Bytes expect_rx;
  uint8_t check_reg;  // a register that must hold check_value afterwards
  uint8_t check_value;
};

TEST(SimBus, PointerAutoIncrementAndWrap) {
  const PointerCase cases[] = {
      {"write three consecutive", {0x10, 0xA1, 0xA2, 0xA3}, 0, {}, 0x12, 0xA3},
      {"write wraps past 0xFF", {0xFE, 0x11, 0x22, 0x33}, 0, {}, 0x00, 0x33},
      {"read wraps past 0xFF", {0xFF}, 3, {0x00, 0x00, 0x00}, 0xFF, 0x00},
      {"write then read in one", {0x40, 0x55}, 2, {0x00, 0x00}, 0x40, 0x55},
      {"identity read", {0x6C}, 4, {0x01, 0x00, 0x36, 0x31}, 0x6F, 0x31},
  };
  for (const auto& c : cases) {
    auto board = SimBoard::make_default();
    Bytes rx(c.rx);
    ASSERT_TRUE(board->transfer(kDemod >> 1, c.tx, rx)) << c.name;
    EXPECT_EQ(rx, c.expect_rx) << c.name;
    EXPECT_EQ(board->demod_reg(c.check_reg), c.check_value) << c.name;
  }
}

TEST(SimBus, EmptyTxReadsFromCurrentPointer) {
  auto board = SimBoard::make_default();
  ASSERT_TRUE(write(*board, kDemod, 0x6D, {}));  // pointer only
  Bytes rx(3);
  ASSERT_TRUE(board->transfer(kDemod >> 1, {}, rx));
  EXPECT_EQ(rx, (Bytes{0x00, 0x36, 0x31}));
  ASSERT_TRUE(board->transfer(kDemod >> 1, {}, rx));  // pointer went on to 0x70
  EXPECT_EQ(rx, (Bytes{0x00, 0x00, 0x00}));
}

TEST(SimBus, RepeaterPassesExactlyOneTransaction) {
  auto board = SimBoard::make_default();
  EXPECT_FALSE(write(*board, kTuner, 0x05, {0x11})) << "closed repeater must not pass";
  ASSERT_TRUE(write(*board, kDemod, 0x2D, {0x01}));
  EXPECT_TRUE(read(*board, kDemod, 0x6C, 4)) << "demodulator traffic leaves it open";
  EXPECT_TRUE(write(*board, kTuner, 0x05, {0x22, 0x33}));
  EXPECT_FALSE(write(*board, kTuner, 0x05, {0x44})) << "closed after one transaction";
  EXPECT_EQ(board->tuner_reg(kTuner, 0x05), 0x22);
  EXPECT_EQ(board->tuner_reg(kTuner, 0x06), 0x33);
  EXPECT_EQ(board->demod_reg(0x2D), 0x00) << "open bit clears when the repeater closes";

  ASSERT_TRUE(write(*board, kDemod, 0x2D, {0x01}));
  ASSERT_TRUE(write(*board, kDemod, 0x2D, {0x00}));
  EXPECT_FALSE(read(*board, kTuner, 0x05, 1)) << "writing 0 closes it";

  ASSERT_TRUE(write(*board, kDemod, 0x2D, {0x01}));
  EXPECT_EQ(read(*board, kTuner, 0x05, 2), (Bytes{0x22, 0x33}));
}

TEST(SimBus, DirectTunerAlwaysReachableAndUnknownAddressesNack) {
  auto board = board_from(R"({"tuners": [{"address": "0xC0", "behind_repeater": false},
                                         {"address": 194, "behind_repeater": true}]})");
  ASSERT_TRUE(board);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(write(*board, kTuner, 0x01, {uint8_t(i)}));
  EXPECT_EQ(board->tuner_reg(kTuner, 0x01), 2);
  EXPECT_FALSE(write(*board, 0xC2, 0x01, {0x01})) << "second tuner is behind the repeater";
  EXPECT_EQ(board->tuner_reg(0xC4, 0x01), 0) << "no tuner there";
  for (const uint8_t address : std::initializer_list<uint8_t>{0x00, 0x60, 0xC4, 0xD2, 0xFE}) {
    EXPECT_FALSE(read(*board, address, 0x00, 1)) << int(address);
  }
  EXPECT_FALSE(board->transfer(0x80, {}, {})) << "7-bit address out of range";
  EXPECT_TRUE(board->transfer(kDemod >> 1, {}, {})) << "address-only probe of the chip";
}

}  // namespace
}  // namespace demodctl::test
