#include "bus/trace_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "board_helpers.h"

namespace demodctl::test {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(TraceLog, ExactLinesForReadsWritesAndSpeed) {
  const std::string path = ::testing::TempDir() + "/sim_trace_test.jsonl";
  std::string error;
  auto log = TraceLog::create(path, &error);
  ASSERT_TRUE(log) << error;
  auto board = board_from(R"({"demod": {"identity": "10 01 36 31"}})");
  ASSERT_TRUE(board);
  TracingBus bus(*board, *log, 2);

  std::vector<uint8_t> id(4);
  const uint8_t read_id[] = {0x6C};
  EXPECT_TRUE(bus.transfer(0x68, read_id, id));
  const uint8_t hot_reset[] = {0x2E, 0x01};
  EXPECT_TRUE(bus.transfer(0x68, hot_reset, {}));
  const uint8_t tuner_write[] = {0x10, 0xAB, 0xCD};
  EXPECT_FALSE(bus.transfer(0x60, tuner_write, {}));  // repeater closed
  std::vector<uint8_t> one(1);
  EXPECT_TRUE(bus.transfer(0x68, {}, one));
  EXPECT_FALSE(bus.transfer(0x11, read_id, one));
  log->speed(2, 400, true);

  // Each line is on disk as soon as it is written.
  EXPECT_EQ(slurp(path),
            "{\"seq\":1,\"op\":\"read\",\"channel\":2,\"address\":\"0xD0\",\"reg\":\"0x6C\","
            "\"bytes\":\"10 01 36 31\",\"result\":\"ok\"}\n"
            "{\"seq\":2,\"op\":\"write\",\"channel\":2,\"address\":\"0xD0\",\"reg\":\"0x2E\","
            "\"bytes\":\"01\",\"result\":\"ok\"}\n"
            "{\"seq\":3,\"op\":\"write\",\"channel\":2,\"address\":\"0xC0\",\"reg\":\"0x10\","
            "\"bytes\":\"AB CD\",\"result\":\"nack\"}\n"
            "{\"seq\":4,\"op\":\"read\",\"channel\":2,\"address\":\"0xD0\",\"reg\":null,"
            "\"bytes\":\"00\",\"result\":\"ok\"}\n"
            "{\"seq\":5,\"op\":\"read\",\"channel\":2,\"address\":\"0x22\",\"reg\":\"0x6C\","
            "\"bytes\":\"\",\"result\":\"nack\"}\n"
            "{\"seq\":6,\"op\":\"speed\",\"channel\":2,\"speed\":400,\"result\":\"ok\"}\n");
  log.reset();
  std::remove(path.c_str());
}

TEST(TraceLog, UncreatableFileGivesError) {
  std::string error;
  EXPECT_FALSE(TraceLog::create(::testing::TempDir() + "/no/such/dir/trace.jsonl", &error));
  EXPECT_NE(error.find("cannot create trace"), std::string::npos) << error;
}

}  // namespace
}  // namespace demodctl::test
