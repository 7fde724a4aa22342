#include "monitor_web/metrics_text.h"

#include <gtest/gtest.h>

#include "monitor/feed_store.h"

namespace demodctl::monitor {
namespace {

// Board "a" locked on DVB-S2 with every figure and a capture, in base units with no rounding noise
// (0.1234 kHz is 123.4 Hz); the second board, whose name needs every escape, lost lock (counted)
// and then its connection (no lock, mode or figure lines, connected 0).
TEST(MetricsText, TwoBoardsExactBytes) {
  const std::string odd = "rack \"2\"\\\nb";
  FeedStore feed({"a", odd});
  BoardSample a;
  a.board = "a";
  a.time = WallTime{} + std::chrono::milliseconds(1796618015123);
  a.connected = true;
  a.lock_status = 0x2F;  // all but CR
  a.strength_dbm = -45.5;
  a.cn_db = 10.25;
  a.ber = 1.5e-07;
  a.carrier_offset_khz = 0.1234;
  a.symbol_offset_khz = -0.125;
  a.lock_time_ms = 120;
  a.mode_fields = {.standard = Standard::dvbs2, .modcod = 14, .pilots = true, .rolloff_code = 1};
  feed.publish_sample(a);
  feed.publish_sample(a);
  CaptureRecord capture;
  capture.board = "a";
  capture.mer_db = 15.25;
  feed.publish_capture(capture);
  feed.count_dropped_output(3);
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
            "# HELP demodmon_build_info The demodmon version that serves these metrics.\n"
            "# TYPE demodmon_build_info gauge\n"
            "demodmon_build_info{version=\"" DEMODCTL_TEST_VERSION
            "\"} 1\n"
            "# HELP demodmon_output_lines_dropped_total Lines of standard output dropped because "
            "it could not keep up.\n"
            "# TYPE demodmon_output_lines_dropped_total counter\n"
            "demodmon_output_lines_dropped_total 3\n"
            "# HELP demodmon_connected Whether the board's last sample was read (1) or not (0).\n"
            "# TYPE demodmon_connected gauge\n"
            "demodmon_connected{board=\"a\"} 1\n"
            "demodmon_connected{board=\"rack \\\"2\\\"\\\\\\nb\"} 0\n"
            "# HELP demodmon_last_sample_timestamp_seconds When the board's last sample was "
            "taken, read or not, in seconds since the epoch.\n"
            "# TYPE demodmon_last_sample_timestamp_seconds gauge\n"
            "demodmon_last_sample_timestamp_seconds{board=\"a\"} 1796618015.123\n"
            "demodmon_last_sample_timestamp_seconds{board=\"rack \\\"2\\\"\\\\\\nb\"} 0\n"
            "# HELP demodmon_lock Lock flag of each stage in the board's last sample (1 locked).\n"
            "# TYPE demodmon_lock gauge\n"
            "demodmon_lock{board=\"a\",stage=\"AGC\"} 1\n"
            "demodmon_lock{board=\"a\",stage=\"CBS\"} 1\n"
            "demodmon_lock{board=\"a\",stage=\"TR\"} 1\n"
            "demodmon_lock{board=\"a\",stage=\"SYNC\"} 1\n"
            "demodmon_lock{board=\"a\",stage=\"CR\"} 0\n"
            "demodmon_lock{board=\"a\",stage=\"FEC\"} 1\n"
            "# HELP demodmon_mode_info The mode the board receives, as labels; absent without FEC "
            "lock.\n"
            "# TYPE demodmon_mode_info gauge\n"
            "demodmon_mode_info{board=\"a\",standard=\"DVB-S2\",modulation=\"8PSK\",modcod=\"14\","
            "code_rate=\"3/4\",frame=\"normal\",pilots=\"on\",roll_off=\"0.25\",vcm=\"0\"} 1\n"
            "# HELP demodmon_strength_dbm Signal strength at the tuner input, in dBm.\n"
            "# TYPE demodmon_strength_dbm gauge\n"
            "demodmon_strength_dbm{board=\"a\"} -45.5\n"
            "# HELP demodmon_cn_db Carrier to noise ratio, in dB.\n"
            "# TYPE demodmon_cn_db gauge\n"
            "demodmon_cn_db{board=\"a\"} 10.25\n"
            "# HELP demodmon_ber Bit error rate before the outer decoder.\n"
            "# TYPE demodmon_ber gauge\n"
            "demodmon_ber{board=\"a\"} 1.5e-07\n"
            "# HELP demodmon_carrier_offset_hertz Carrier frequency offset, in hertz.\n"
            "# TYPE demodmon_carrier_offset_hertz gauge\n"
            "demodmon_carrier_offset_hertz{board=\"a\"} 123.4\n"
            "# HELP demodmon_symbol_rate_offset_hertz Symbol rate offset, in symbols per second.\n"
            "# TYPE demodmon_symbol_rate_offset_hertz gauge\n"
            "demodmon_symbol_rate_offset_hertz{board=\"a\"} -125\n"
            "# HELP demodmon_lock_time_seconds Time the demodulator took to acquire its lock, in "
            "seconds.\n"
            "# TYPE demodmon_lock_time_seconds gauge\n"
            "demodmon_lock_time_seconds{board=\"a\"} 0.12\n"
            "# HELP demodmon_mer_db Modulation error ratio of the board's last capture, in dB.\n"
            "# TYPE demodmon_mer_db gauge\n"
            "demodmon_mer_db{board=\"a\"} 15.25\n"
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
            "demodmon_lock_losses_total{board=\"rack \\\"2\\\"\\\\\\nb\"} 1\n"
            "# HELP demodmon_capture_failures_total Captures asked for that gave no record.\n"
            "# TYPE demodmon_capture_failures_total counter\n"
            "demodmon_capture_failures_total{board=\"a\"} 0\n"
            "demodmon_capture_failures_total{board=\"rack \\\"2\\\"\\\\\\nb\"} 0\n");
}

}  // namespace
}  // namespace demodctl::monitor
