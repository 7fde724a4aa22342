// The monitor's pure parts: MER against constellations of known noise, the lock events and
// counters of a sequence of samples, the targets and options of the command line, the JSON line.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "monitor/board_target.h"
#include "monitor/feed_store.h"
#include "monitor/json_records.h"
#include "monitor/mer.h"
#include "monitor/options.h"

namespace demodctl::monitor {
namespace {

using namespace std::chrono_literals;

// 2048 symbols of the constellation at amplitude 100 (as the capture unit gives them) with
// Gaussian noise at Es/N0 = snr_db.
std::vector<std::pair<int, int>> noisy_capture(Constellation c, double snr_db) {
  constexpr double kAmplitude = 100.0;
  const auto points = ideal_points(c);
  double es = 0.0;
  for (const auto& p : points) es += std::norm(p) * kAmplitude * kAmplitude;
  es /= static_cast<double>(points.size());
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, std::sqrt(es / (2.0 * std::pow(10.0, snr_db / 10))));
  std::uniform_int_distribution<size_t> pick(0, points.size() - 1);
  std::vector<std::pair<int, int>> out;
  for (int n = 0; n < 2048; ++n) {
    const auto s = points[pick(random)] * kAmplitude;
    out.emplace_back(static_cast<int>(std::lround(s.real() + noise(random))),
                     static_cast<int>(std::lround(s.imag() + noise(random))));
  }
  return out;
}

TEST(Mer, MatchesTheNoiseOfTheConstellation) {
  const struct {
    Constellation c;
    double snr_db;
  } cases[] = {{Constellation::qpsk, 12.0},
               {Constellation::psk8, 18.0},
               {Constellation::apsk16, 22.0},
               {Constellation::apsk32, 26.0}};
  for (const auto& k : cases) {
    const auto mer = mer_db(noisy_capture(k.c, k.snr_db), k.c);
    ASSERT_TRUE(mer.has_value()) << constellation_name(k.c);
    EXPECT_NEAR(*mer, k.snr_db, 0.5) << constellation_name(k.c) << " at " << k.snr_db << " dB";
  }
  EXPECT_FALSE(mer_db(std::vector<std::pair<int, int>>(16, {0, 0}), Constellation::qpsk));
  // The mode picks the constellation: DVB-S2 by MODCOD (0x5C bits 7..2), anything else QPSK.
  EXPECT_EQ(constellation_for(0x3F, 14 << 2), Constellation::psk8);
  EXPECT_EQ(constellation_for(0x3F, 20 << 2), Constellation::apsk16);
  EXPECT_EQ(constellation_for(0x3F, 25 << 2), Constellation::apsk32);
  EXPECT_EQ(constellation_for(0x37, 25 << 2), Constellation::qpsk);  // DVB-S: no sync bit
}

TEST(FeedStore, EventsAndCountersFollowTheSamples) {
  // lock status per sample (-1: no connection) and the events it raises.
  const struct {
    int lock;
    const char* events;
  } steps[] = {{0x3F, ""},
               {0x0F, "lock_lost CR;"},
               {0x00, ""},
               {0x3F, "lock_gained;"},
               {-1, "disconnected;"},
               {0x07, "reconnected;lock_lost SYNC;"},
               {0x3F, "lock_gained;"}};
  FeedStore feed({"a"});
  std::string seen;
  feed.subscribe({{},
                  [&](const BoardEvent& e) {
                    const bool lost = e.kind == EventKind::lock_lost;
                    seen += event_kind_name(e.kind) + (lost ? " " + e.detail : "") + ";";
                  },
                  {}});
  WallTime t{};
  for (const auto& step : steps) {
    seen.clear();
    BoardSample s;
    s.board = "a";
    s.time = t;
    s.connected = step.lock >= 0;
    s.lock_status = static_cast<uint8_t>(std::max(step.lock, 0));
    feed.publish_sample(s);
    EXPECT_EQ(seen, step.events) << "at " << (t.time_since_epoch() / 1s) << " s";
    t += 1s;
  }
  const BoardCounters c = feed.counters("a");
  EXPECT_EQ(c.samples, 7u);
  EXPECT_EQ(c.failures, 1u);
  EXPECT_EQ(c.lock_losses, 2u);
  EXPECT_EQ(c.longest_outage, 2000ms);  // 1 s .. 3 s, and 4 s .. 6 s
  EXPECT_EQ(feed.history("a", 3).front().time, WallTime{} + 4s);
  EXPECT_FALSE(feed.request_capture("b"));
  EXPECT_TRUE(feed.request_capture("a"));
  EXPECT_TRUE(feed.take_capture_request("a"));
  EXPECT_FALSE(feed.take_capture_request("a"));
}

TEST(BoardTarget, BoardOptionsAndTheirFaults) {
  const struct {
    const char* text;
    const char* expect;  // "host port channel address speed" / "usb BUS address", or the error
  } cases[] = {
      {"a=127.0.0.1:7468/0@208", "127.0.0.1 7468 0 208 100"},
      {"rack-2=[::1]:7468/3@210,400", "::1 7468 3 210 400"},
      {"b=usb:sim@208", "usb sim 208"},
      {"b=usb:sim:/x@y/s.json@208", "usb sim:/x@y/s.json 208"},
      {"b=usb:@208", "usb  208"},
      {"a=127.0.0.1:0/0@208", "--board a: port '0' is not a number from 1 to 65535"},
      {"a=127.0.0.1:7468/0@256", "--board a: address '256' is not a number from 0 to 255"},
      {"a=127.0.0.1:7468@208", "--board a: expected HOST:PORT/CHANNEL@ADDRESS[,SPEED]"},
      {"a=[::1:7468/0@208", "--board a: expected [IPV6]:PORT/CHANNEL@ADDRESS"},
      {"a b=usb:sim@208", "--board: a name is 1 to 64 of the characters A-Z a-z 0-9 - _ ."},
      {"usb:sim@208", "--board: expected NAME=TARGET"},
  };
  for (const auto& k : cases) {
    std::string error;
    const auto t = parse_board_option(k.text, &error);
    std::string got = error;
    if (t && t->usb) got = "usb " + t->bus + " " + std::to_string(t->device.address);
    if (t && !t->usb) {
      got = t->device.host + " " + std::to_string(t->device.port) + " " +
            std::to_string(t->device.channel) + " " + std::to_string(t->device.address) + " " +
            std::to_string(t->device.speed);
    }
    EXPECT_EQ(got, k.expect) << k.text;
  }
}

TEST(MonitorOptions, NumbersAndLayoutsAreChecked) {
  const struct {
    std::vector<const char*> args;
    const char* error;  // empty: accepted
  } cases[] = {
      {{"127.0.0.1", "7468", "0", "100", "208", "1"}, ""},
      {{"100", "208", "0", "--interval", "50", "--count", "3", "--json"}, ""},
      {{"100", "208", "0", "--interval", "nan"},
       "demodmon: --interval needs a whole number from 10 to 3600000, not 'nan'"},
      {{"100", "208", "0", "--interval", "9"},
       "demodmon: --interval needs a whole number from 10 to 3600000, not '9'"},
      {{"100", "208", "0", "--http", "127.0.0.1:70000"},
       "demodmon: --http needs ADDR:PORT (PORT 0..65535), not '127.0.0.1:70000'"},
      {{"100", "208", "0", "--allow-captures"},
       "demodmon: --http-allow and --allow-captures need --http"},
      {{"100", "208", "1"},
       "demodmon: expected HOST PORT CHANNEL SPEED ADDRESS 1, SPEED ADDRESS 0, or --board"},
      {{"--board", "a=usb:sim@208", "--board", "a=usb:sim@210"}, "demodmon: --board a given twice"},
      {{}, "demodmon: no board: give --board NAME=TARGET or demodctl's layout (see --help)"},
  };
  for (const auto& k : cases) {
    std::vector<const char*> argv = {"demodmon"};
    argv.insert(argv.end(), k.args.begin(), k.args.end());
    const auto p = parse_monitor_options(static_cast<int>(argv.size()), argv.data(), "sim");
    EXPECT_EQ(p.message, k.error) << (k.args.empty() ? "" : k.args.back());
    EXPECT_EQ(p.exit_status, *k.error == '\0' ? 0 : kExitUsage);
  }
}

TEST(JsonRecords, SampleLineCarriesRawBytesBesideFigures) {
  BoardSample s;
  s.board = "a";
  s.time = WallTime{} + 1796618015123ms;
  s.index = 4;
  s.connected = true;
  s.lock_status = 0x0F;
  s.strength_dbm = -39.5;
  s.mode = "unkown standard!";
  s.registers = {{0x2C, {0x0F}}, {0x37, {0x34, 0x86}}};
  EXPECT_EQ(to_json(s).dump(),
            R"({"ber":null,"board":"a","carrier_offset_khz":null,"cn_db":null,"connected":true,)"
            R"("index":4,"lock":"ACTS--","lock_status":15,"lock_time_ms":null,)"
            R"("mode":"unkown standard!","mode_fields":{"code_rate":null,"frame":null,)"
            R"("modcod":null,"modulation":null,"pilots":null,"roll_off":null,"standard":null,)"
            R"("vcm":false},"registers":{"0x2c":"0f","0x37":"3486"},"schema":2,)"
            R"("strength_dbm":-39.5,"symbol_offset_khz":null,"time":"2026-12-07T04:33:35.123Z",)"
            R"("type":"sample"})");
}

// The mode by field: what the standard received carries, null where the chip gives none (the
// report's own words, "Directv", "NA", "Reserved", never appear).
TEST(JsonRecords, ModeFieldsByStandard) {
  const struct {
    ModeReport mode;
    const char* fields;
  } kCases[] = {
      {{.standard = Standard::dvbs2, .modcod = 27, .short_frame = true, .rolloff_code = 2},
       R"({"code_rate":"8/9","frame":"short","modcod":27,"modulation":"32APSK","pilots":false,)"
       R"("roll_off":0.2,"standard":"DVB-S2","vcm":false})"},
      {{.standard = Standard::dvbs2, .modcod = 30, .pilots = true, .rolloff_code = 3},
       R"({"code_rate":null,"frame":"normal","modcod":30,"modulation":null,"pilots":true,)"
       R"("roll_off":null,"standard":"DVB-S2","vcm":false})"},
      {{.standard = Standard::dvbs2, .vcm = true},
       R"({"code_rate":null,"frame":null,"modcod":null,"modulation":null,"pilots":null,)"
       R"("roll_off":null,"standard":"DVB-S2","vcm":true})"},
      {{.standard = Standard::directv, .rate_code = 3},
       R"({"code_rate":null,"frame":null,"modcod":null,"modulation":null,"pilots":null,)"
       R"("roll_off":0.2,"standard":"DirecTV","vcm":false})"},
  };
  for (const auto& c : kCases) {
    BoardSample s;
    s.mode_fields = c.mode;
    EXPECT_EQ(to_json(s)["mode_fields"].dump(), c.fields) << c.fields;
  }
}

}  // namespace
}  // namespace demodctl::monitor
