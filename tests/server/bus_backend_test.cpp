#include "server/bus_backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bus/trace_log.h"
#include "server/fake_board.h"
#include "sim/sim_board.h"

namespace demodctl {
namespace {

// Records which adapter nodes were opened; nodes listed in `present` open.
class FakeKernel : public KernelI2c {
 public:
  int open_adapter(const char* path) override {
    opened.emplace_back(path);
    for (const auto& p : present)
      if (p == path) return next_fd++;
    return -1;
  }
  int rdwr(int, i2c_msg*, uint32_t) override { return -1; }
  void close_adapter(int) override { ++closed; }

  std::vector<std::string> present;
  std::vector<std::string> opened;
  int next_fd = 10;
  int closed = 0;
};

TEST(I2cDevBackend, OpensEachNodeOnceAndOnFirstUse) {
  FakeKernel kernel;
  kernel.present = {"/fake/i2c-3"};
  {
    I2cDevBackend backend("/fake/i2c-", kernel);
    EXPECT_TRUE(kernel.opened.empty());
    I2cBus* bus = backend.channel(3);
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(backend.channel(3), bus);
    EXPECT_TRUE(backend.set_speed(3, 400));
    EXPECT_EQ(backend.channel(4), nullptr);
    EXPECT_EQ(backend.channel(4), nullptr);  // tried again
    EXPECT_FALSE(backend.set_speed(4, 400));
    EXPECT_EQ(backend.channel(-1), nullptr);
    EXPECT_EQ(kernel.opened, (std::vector<std::string>{"/fake/i2c-3", "/fake/i2c-4", "/fake/i2c-4",
                                                       "/fake/i2c-4"}));
  }
  EXPECT_EQ(kernel.closed, 1);
}

TEST(SimBackend, AnswersOnlyOnTheBoardsChannels) {
  SimBackend backend(SimBoard::make_default());
  ASSERT_NE(backend.channel(0), nullptr);
  EXPECT_EQ(backend.channel(1), nullptr);
  EXPECT_EQ(backend.channel(-1), nullptr);
  EXPECT_TRUE(backend.set_speed(0, 100));
  EXPECT_FALSE(backend.set_speed(1, 100));
  EXPECT_FALSE(backend.take_drop_request());
  uint8_t id[4] = {};
  const uint8_t reg = 0x6C;
  ASSERT_TRUE(backend.channel(0)->transfer(0x68, {&reg, 1}, id));
  EXPECT_EQ(id[2], 0x36);
  EXPECT_EQ(id[3], 0x31);
}

TEST(TracingBackend, OneLinePerTransactionAndSpeedSetting) {
  const auto path =
      (std::filesystem::temp_directory_path() / ("tracing_backend." + std::to_string(::getpid())))
          .string();
  {
    test::FakeBackend inner;
    std::string error;
    auto log = TraceLog::create(path, &error);
    ASSERT_TRUE(log) << error;
    TracingBackend traced(inner, *log);
    EXPECT_EQ(traced.channel(5), nullptr);
    I2cBus* bus = traced.channel(0);
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(traced.channel(0), bus);
    const uint8_t tx[2] = {0x33, 0x02};
    EXPECT_TRUE(bus->transfer(0x68, tx, {}));
    EXPECT_TRUE(traced.set_speed(0, 400));
    EXPECT_EQ(inner.device.log.size(), 1u);
    EXPECT_EQ(inner.speeds.at(0), 400);
    inner.device.drop_pending = true;
    EXPECT_TRUE(traced.take_drop_request());
  }
  std::ifstream in(path);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_EQ(lines, 2);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace demodctl
