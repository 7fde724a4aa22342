#include <gtest/gtest.h>

#include "board_helpers.h"

namespace demodctl::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes lock_reads(SimBoard& board, int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) out.push_back(read1(board, 0x2C));
  return out;
}

struct AcquisitionCase {
  const char* name;
  const char* scenario;
  Bytes after_restart;  // successive 0x2C reads after hot reset 0x01, 0x03
};

TEST(SimDemod, HotResetHoldsThenReacquiresInStages) {
  const AcquisitionCase cases[] = {
      {"default, one read per stage", "{}", {0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x3F}},
      {"DVB-S target skips bit 3",
       R"({"demod": {"registers": {"0x2C": "0x37"}}})",
       {0x01, 0x03, 0x07, 0x07, 0x17, 0x37, 0x37}},
      {"bits 6,7 show throughout",
       R"({"demod": {"registers": {"0x2C": "0xC3"}}})",
       {0xC1, 0xC3, 0xC3, 0xC3, 0xC3, 0xC3}},
      {"two reads per stage",
       R"({"demod": {"registers": {"0x2C": 63}}, "acquisition_reads_per_stage": 2})",
       {0x01, 0x01, 0x03, 0x03, 0x07, 0x07, 0x0F, 0x0F, 0x1F, 0x1F, 0x3F, 0x3F}},
      {"zero = lock at once",
       R"({"demod": {"registers": {"0x2C": 63}}, "acquisition_reads_per_stage": 0})",
       {0x3F, 0x3F}},
  };
  for (const auto& c : cases) {
    auto board =
        (std::string(c.scenario) == "{}") ? SimBoard::make_default() : board_from(c.scenario);
    ASSERT_TRUE(board) << c.name;
    const uint8_t target = board->demod_reg(0x2C);
    EXPECT_EQ(read1(*board, 0x2C), target) << c.name << ": starts locked";
    ASSERT_TRUE(write(*board, kDemod, 0x2E, {0x01}));
    EXPECT_EQ(lock_reads(*board, 3), (Bytes{0, 0, 0})) << c.name << ": held in reset";
    ASSERT_TRUE(write(*board, kDemod, 0x2E, {0x03}));
    EXPECT_EQ(lock_reads(*board, int(c.after_restart.size())), c.after_restart) << c.name;
    EXPECT_EQ(board->demod_reg(0x2E), 0x03) << c.name;
  }
}

TEST(SimDemod, InitSequenceStopsAndRestartsAcquisition) {
  auto board = SimBoard::make_default();
  const std::pair<uint8_t, uint8_t> steps[] = {
      {0x0C, 0x52}, {0x00, 0x81}, {0x00, 0x01}, {0x05, 0x81}, {0x05, 0x01}, {0x04, 0x04},
      {0x09, 0x0E}, {0x0C, 0x42}, {0x0A, 0x5A}, {0x0A, 0x4A}, {0xA8, 0x80}};
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    ASSERT_TRUE(write(*board, kDemod, steps[i].first, {steps[i].second}));
    if (i == 1 || i == 9) {
      EXPECT_EQ(read1(*board, 0x2C), 0x00) << "stopped from the reset pulse until 0xA8";
    }
  }
  const std::pair<uint8_t, uint8_t> final_values[] = {{0x0C, 0x42}, {0x00, 0x01}, {0x05, 0x01},
                                                      {0x04, 0x04}, {0x09, 0x0E}, {0x0A, 0x4A},
                                                      {0xA8, 0x80}};
  for (auto [reg, value] : final_values) EXPECT_EQ(board->demod_reg(reg), value) << int(reg);
  EXPECT_EQ(lock_reads(*board, 7), (Bytes{0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x3F}));
}

TEST(SimDemod, WriteToLockStatusSetsNewTarget) {
  auto board = SimBoard::make_default();
  ASSERT_TRUE(write(*board, kDemod, 0x2C, {0x20}));
  EXPECT_EQ(read1(*board, 0x2C), 0x20);
  ASSERT_TRUE(write(*board, kDemod, 0x2E, {0x03}));  // release without hold also restarts
  EXPECT_EQ(lock_reads(*board, 6), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x20}));
}

// 9-bit words of the test tone: word 0 is I = 100, Q = 0; word 8 is I = 0, Q = 100.
TEST(SimDemod, CaptureCompletesAndYieldsToneSamples) {
  auto board = SimBoard::make_default();
  ASSERT_TRUE(write(*board, kDemod, 0x2F, {0x30}));
  ASSERT_TRUE(write(*board, kDemod, 0xEA, {0x20}));
  EXPECT_GE(read1(*board, 0xEA), 0x40);
  Bytes data;
  for (int i = 0; i < 4 * 9; ++i) data.push_back(read1(*board, 0xEF));
  const auto word = [&](int n) {
    return data[size_t(4 * n)] | (data[size_t(4 * n + 1)] << 8) | (data[size_t(4 * n + 2)] << 16);
  };
  EXPECT_EQ((word(0) & 0x1FF) - 256, 100);
  EXPECT_EQ(((word(0) >> 9) & 0x1FF) - 256, 0);
  EXPECT_EQ((word(8) & 0x1FF) - 256, 0);
  EXPECT_EQ(((word(8) >> 9) & 0x1FF) - 256, 100);
  EXPECT_EQ(data[3], 0);
}

}  // namespace
}  // namespace demodctl::test
