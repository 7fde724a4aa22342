// The exact JSON Lines the bus trace writes; which paths it refuses is the file rule's
// (tests/files), its words for them the black-box Verbose test's.
#include "i2c/trace_log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <regex>
#include <string>
#include <vector>

#include "sim/sim_board.h"
#include "support/process.h"
#include "support/recording_backends.h"
#include "support/temp_dir.h"

namespace demodctl {
namespace {

const uint8_t kReadId[] = {0x6C};

// In a fresh or a truncated file, or on standard error ("-"); a write error is told once:
// WholeLinesOnlyAtTheFileSizeLimit.
TEST(TraceLog, ExactLinesInAFileOrOnStandardError) {
  const testing::TempDir temp;
  const std::string& dir = temp.path();
  const std::string old_file = testing::write_file(dir, "old.jsonl", "an older, longer trace\n");
  for (const std::string& path : {dir + "/new.jsonl", old_file, std::string("-")}) {
    auto log = TraceLog::create(path);
    ASSERT_TRUE(log) << log.error().cause;
    auto board = SimBoard::make_default();
    TracingBus bus(*board, **log, 2);
    std::vector<uint8_t> id(4);
    const uint8_t tuner_write[] = {0x10, 0xAB, 0xCD};
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(bus.transfer(0x68, kReadId, id));
    EXPECT_EQ(testing::status_of(bus.transfer(0x60, tuner_write, {})),
              testing::kNack);  // repeater closed
    const std::string err = ::testing::internal::GetCapturedStderr();
    // Each line is on disk as soon as it is written; its time stamp (a clock that runs on) dropped.
    EXPECT_EQ(std::regex_replace(path == "-" ? err : testing::read_file(path),
                                 std::regex(",\"t_us\":[0-9]+\\}"), "}"),
              "{\"seq\":1,\"op\":\"read\",\"channel\":2,\"address\":\"0xD0\",\"reg\":\"0x6C\","
              "\"bytes\":\"01 00 36 31\",\"result\":\"ok\",\"written\":0,\"read\":4,"
              "\"status\":\"OK\",\"transport\":\"regserver\"}\n"
              "{\"seq\":2,\"op\":\"write\",\"channel\":2,\"address\":\"0xC0\",\"reg\":\"0x10\","
              "\"bytes\":\"AB CD\",\"result\":\"nack\",\"written\":2,\"read\":0,"
              "\"status\":\"NACK\",\"transport\":\"regserver\"}\n");
  }
  struct stat st {};
  ASSERT_EQ(stat((dir + "/new.jsonl").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600U);
}

// A trace that reaches the file size limit (as a full disk) keeps whole lines only: the line cut
// short is taken back, it and the later ones are counted when the trace is closed.
TEST(TraceLog, WholeLinesOnlyAtTheFileSizeLimit) {
  const testing::TempDir temp;
  const std::string path = temp.path() + "/limited.jsonl";
  std::vector<uint8_t> id(4);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto saved_action = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 300;  // one line and part of the next
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  ::testing::internal::CaptureStderr();
  {
    auto log = TraceLog::create(path);
    auto board = SimBoard::make_default();
    TracingBus bus(*board, **log, 0);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(bus.transfer(0x68, kReadId, id).has_value());
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, saved_action);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "demodctl_tests: trace " + path +
                ": write failed: File too large; no further trace lines\n"
                "demodctl_tests: trace " +
                path + ": lines dropped: 2\n");
  const std::string text = testing::read_file(path);
  EXPECT_TRUE(text.starts_with("{\"seq\":1,") && text.ends_with("}\n") &&
              text.find('\n') == text.size() - 1)
      << text;
}

}  // namespace
}  // namespace demodctl
