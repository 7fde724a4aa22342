#include "cli/debug_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/process.h"

namespace demodctl::testing {
namespace {

TEST(DebugLog, BannersNewLogAndAppend) {
  in_temp_dir([](const std::string& dir) {
    write_file(dir, kDebugLogName, "old content\n");
    ASSERT_TRUE(debug_log_open("w+"));
    debug_log_banner("tuner_set begining!");
    debug_log_printf("tuner_type=%d,freq=%d,bw=%d\n", 1, 1550, 30);
    debug_log_close();
    ASSERT_TRUE(debug_log_open("a"));
    debug_log_banner("symbol_err begining!");
    debug_log_close();
    EXPECT_EQ(read_file(dir + "/" + kDebugLogName),
              std::string(28, '-') + "tuner_set begining!" + std::string(43, '-') + "\n" +
                  "tuner_type=1,freq=1550,bw=30\n" + std::string(28, '-') + "symbol_err begining!" +
                  std::string(43, '-') + "\n");
  });
}

TEST(DebugLog, UnopenableLogIsSkippedSilently) {
  in_temp_dir([](const std::string& dir) {
    ASSERT_EQ(mkdir((dir + "/" + kDebugLogName).c_str(), 0755), 0);  // a directory: fopen fails
    EXPECT_FALSE(debug_log_open("w+"));
    debug_log_banner("tuner_set begining!");  // no crash, nothing written
    debug_log_close();
  });
}

}  // namespace
}  // namespace demodctl::testing
