// The exact JSON Lines the bus trace writes.
#include "bus/trace_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_board.h"
#include "support/process.h"

namespace demodctl {
namespace {

TEST(TraceLog, ExactReadAndWriteLines) {
  const std::string path = testing::make_temp_dir() + "/trace.jsonl";
  std::string error;
  auto log = TraceLog::create(path, &error);
  ASSERT_TRUE(log) << error;
  auto board = SimBoard::make_default();
  TracingBus bus(*board, *log, 2);
  std::vector<uint8_t> id(4);
  const uint8_t read_id[] = {0x6C};
  const uint8_t tuner_write[] = {0x10, 0xAB, 0xCD};
  EXPECT_TRUE(bus.transfer(0x68, read_id, id));
  EXPECT_FALSE(bus.transfer(0x60, tuner_write, {}));  // repeater closed
  // Each line is on disk as soon as it is written.
  EXPECT_EQ(testing::read_file(path),
            "{\"seq\":1,\"op\":\"read\",\"channel\":2,\"address\":\"0xD0\",\"reg\":\"0x6C\","
            "\"bytes\":\"01 00 36 31\",\"result\":\"ok\"}\n"
            "{\"seq\":2,\"op\":\"write\",\"channel\":2,\"address\":\"0xC0\",\"reg\":\"0x10\","
            "\"bytes\":\"AB CD\",\"result\":\"nack\"}\n");
}

}  // namespace
}  // namespace demodctl
