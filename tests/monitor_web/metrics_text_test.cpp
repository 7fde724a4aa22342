#include "monitor_web/metrics_text.h"

#include <gtest/gtest.h>

#include "monitor/feed_store.h"

namespace demodctl::monitor {
namespace {

// Board "a" locked with every figure; the second board, whose name needs every escape, lost lock
// (counted) and then its connection (no lock or figure lines, connected 0).
TEST(MetricsText, TwoBoardsExactBytes) {
  const std::string odd = "rack \"2\"\\\nb";
  FeedStore feed({"a", odd});
  BoardSample a;
  a.board = "a";
  a.connected = true;
  a.lock_status = 0x2F;  // all but CR
  a.strength_dbm = -45.5;
  a.cn_db = 10.25;
  a.ber = 1.5e-07;
  a.carrier_offset_khz = -12;
  a.symbol_offset_khz = 0.125;
  feed.publish_sample(a);
  feed.publish_sample(a);
  BoardSample b;
  b.board = odd;
  b.connected = true;
  b.lock_status = 0x3F;
  b.cn_db = 9;
  feed.publish_sample(b);
  b.lock_status = 0x0F;
  feed.publish_sample(b);
  b.connected = false;
  b.failure = "connection refused";
  feed.publish_sample(b);

  EXPECT_EQ(metrics_text(feed),
            "# HELP demodmon_connected Whether the board's last sample was read (1) or not (0).\n"
            "# TYPE demodmon_connected gauge\n"
            "demodmon_connected{board=\"a\"} 1\n"
            "demodmon_connected{board=\"rack \\\"2\\\"\\\\\\nb\"} 0\n"
            "# HELP demodmon_lock Lock flag of each stage in the board's last sample (1 locked).\n"
            "# TYPE demodmon_lock gauge\n"
            "demodmon_lock{board=\"a\",stage=\"AGC\"} 1\n"
            "demodmon_lock{board=\"a\",stage=\"CBS\"} 1\n"
            "demodmon_lock{board=\"a\",stage=\"TR\"} 1\n"
            "demodmon_lock{board=\"a\",stage=\"SYNC\"} 1\n"
            "demodmon_lock{board=\"a\",stage=\"CR\"} 0\n"
            "demodmon_lock{board=\"a\",stage=\"FEC\"} 1\n"
            "# HELP demodmon_strength_dbm Signal strength at the tuner input, in dBm.\n"
            "# TYPE demodmon_strength_dbm gauge\n"
            "demodmon_strength_dbm{board=\"a\"} -45.5\n"
            "# HELP demodmon_cn_db Carrier to noise ratio, in dB.\n"
            "# TYPE demodmon_cn_db gauge\n"
            "demodmon_cn_db{board=\"a\"} 10.25\n"
            "# HELP demodmon_ber Bit error rate before the outer decoder.\n"
            "# TYPE demodmon_ber gauge\n"
            "demodmon_ber{board=\"a\"} 1.5e-07\n"
            "# HELP demodmon_carrier_offset_khz Carrier frequency offset, in kHz.\n"
            "# TYPE demodmon_carrier_offset_khz gauge\n"
            "demodmon_carrier_offset_khz{board=\"a\"} -12\n"
            "# HELP demodmon_symbol_offset_khz Symbol rate offset, in kHz.\n"
            "# TYPE demodmon_symbol_offset_khz gauge\n"
            "demodmon_symbol_offset_khz{board=\"a\"} 0.125\n"
            "# HELP demodmon_samples_total Samples taken of the board.\n"
            "# TYPE demodmon_samples_total counter\n"
            "demodmon_samples_total{board=\"a\"} 2\n"
            "demodmon_samples_total{board=\"rack \\\"2\\\"\\\\\\nb\"} 3\n"
            "# HELP demodmon_sample_failures_total Samples that could not be read from the board.\n"
            "# TYPE demodmon_sample_failures_total counter\n"
            "demodmon_sample_failures_total{board=\"a\"} 0\n"
            "demodmon_sample_failures_total{board=\"rack \\\"2\\\"\\\\\\nb\"} 1\n"
            "# HELP demodmon_lock_losses_total Times the board lost its FEC lock.\n"
            "# TYPE demodmon_lock_losses_total counter\n"
            "demodmon_lock_losses_total{board=\"a\"} 0\n"
            "demodmon_lock_losses_total{board=\"rack \\\"2\\\"\\\\\\nb\"} 1\n");
}

}  // namespace
}  // namespace demodctl::monitor
