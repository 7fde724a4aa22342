// The monitor's pure parts: a sample's bus operations, MER against constellations of known noise,
// the lock events and counters of a sequence of samples, the targets and options of the command
// line and of the configuration file (each fault named with its line and key, the command line
// winning), the JSON line.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "bus/server_board_bus.h"
#include "demod/field_access.h"
#include "monitor/board_target.h"
#include "monitor/config_file.h"
#include "monitor/feed_store.h"
#include "monitor/json_records.h"
#include "monitor/mer.h"
#include "monitor/options.h"
#include "monitor/sample_reader.h"
#include "monitor/terminal_lines.h"
#include "support/process.h"
#include "support/recording_backends.h"

namespace demodctl::monitor {
namespace {

using namespace std::chrono_literals;

// The ideal points as EN 302 307 publishes them, radii relative to the inner ring: QPSK and 8PSK
// one ring; 16APSK 4+12 at gamma (table 9), 32APSK 4+12+16 at gamma1, gamma2 (table 10), by code
// rate. Rings of 4 start at 45 degrees, of 12 at 15, of 8 and 16 at 0.
std::vector<std::complex<double>> published_points(int modcod) {
  constexpr double kGamma16[] = {3.15, 2.85, 2.75, 2.70, 2.60, 2.57};  // MODCOD 18..23
  constexpr double kGamma32[][2] = {
      {2.84, 5.27}, {2.72, 4.87}, {2.64, 4.64}, {2.54, 4.33}, {2.53, 4.30}};  // MODCOD 24..28
  std::vector<std::complex<double>> points;
  const auto ring = [&](int n, double radius, double degrees) {
    for (int k = 0; k < n; ++k)
      points.push_back(std::polar(radius, (degrees + 360.0 * k / n) * std::numbers::pi / 180));
  };
  const bool psk8 = modcod >= 12 && modcod < 18;
  ring(psk8 ? 8 : 4, 1.0, psk8 ? 0 : 45);
  if (modcod >= 18) ring(12, modcod < 24 ? kGamma16[modcod - 18] : kGamma32[modcod - 24][0], 15);
  if (modcod >= 24) ring(16, kGamma32[modcod - 24][1], 0);
  return points;
}

// 2048 symbols of `points` with Gaussian noise at Es/N0 = snr_db, outer ring at amplitude 100
// (as the capture unit gives them).
std::vector<std::pair<int, int>> noisy_capture(std::vector<std::complex<double>> points,
                                               double snr_db) {
  double outer = 0.0;
  for (const auto& p : points) outer = std::max(outer, std::abs(p));
  double es = 0.0;
  for (auto& p : points) es += std::norm(p *= 100.0 / outer);
  es /= static_cast<double>(points.size());
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, std::sqrt(es / (2.0 * std::pow(10.0, snr_db / 10))));
  std::uniform_int_distribution<size_t> pick(0, points.size() - 1);
  std::vector<std::pair<int, int>> out;
  for (int n = 0; n < 2048; ++n) {
    const auto s = points[pick(random)];
    out.emplace_back(static_cast<int>(std::lround(s.real() + noise(random))),
                     static_cast<int>(std::lround(s.imag() + noise(random))));
  }
  return out;
}

// A sample reads each register once: 0x2C first, handed to every reading that gates on it, the
// mode register shared by BER and the mode report, fc by both offsets. The JSON shows the bytes
// read, the mode fields are read_mode's (read again after the sample, on the same board).
TEST(SampleReader, ReadsEachRegisterOnce) {
  const struct {
    uint8_t lock, constant_coding;
    const char *ops, *registers;
  } kCases[] = {
      {0x3F, 0x80, "2C 37+2 7F 7E 84+2 83 5C 29 2A 2B 23 24 25 4E 4F 4C 4D 97 9D",
       R"({"0x23":"6c6b00","0x29":"214305","0x2c":"3f","0x37":"6089","0x4c":"00f0",)"
       R"("0x4e":"0080","0x5c":"30","0x7e":"0180","0x83":"20","0x84":"e803"})"},
      {0x3F, 0x00, "2C 37+2 7F 7E 84+2 83 5C 29 2A 2B 23 24 25 4E 4F 4C 4D 97", nullptr},  // VCM
      {0x37, 0x80, "2C 37+2 7F 7E 84+2 83 8E 29 2A 2B 23 24 25 4E 4F 4C 4D", nullptr},  // DirecTV
      {0x1F, 0x80, "2C 37+2 7F 7E", R"({"0x2c":"1f","0x37":"6089","0x7e":"0180"})"},
  };
  for (const auto& k : kCases) {
    testing::TestPlatform p;
    for (const auto& [reg, bytes] : std::vector<std::pair<int, std::vector<uint8_t>>>{
             {0x23, {0x6C, 0x6B, 0x00, 0, 0, 0, 0x21, 0x43, 0x05}},
             {0x2C, {k.lock}},
             {0x37, {0x60, 0x89}},
             {0x4C, {0x00, 0xF0, 0x00, 0x80}},
             {0x5C, {0x30}},
             {0x7E, {0x01, 0x80}},
             {0x83, {0x20, 0xE8, 0x03}},
             {0x8E, {0x01}},
             {0x97, {k.constant_coding}},
             {0x9D, {0x40}}})
      p.set(reg, bytes);
    ServerBoardBus bus{I2cDevice{"127.0.0.1", 5000, 0, 100, 208}, p.register_server()};
    ASSERT_TRUE(bus.open_connection());
    BoardSample s;
    read_sample(bus, s);
    EXPECT_EQ(p.calls, testing::expand(k.ops, true, false)) << k.ops;
    if (k.registers) {
      EXPECT_EQ(to_json(s)["registers"].dump(), k.registers);
    }
    EXPECT_EQ(s.mode_fields, read_mode(bus).value()) << k.ops;
    EXPECT_EQ(s.mode, mode_text(s.mode_fields));
  }
}

// At 30 dB a ring off by the difference of two code rates' ratios costs the MER over 0.5 dB.
TEST(Mer, MatchesTheNoiseOfEachModcodsConstellation) {
  constexpr double kSnrDb = 30.0;
  for (const int modcod : {4, 14, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28}) {
    const uint8_t pls = static_cast<uint8_t>(modcod << 2);
    const auto mer = mer_db(noisy_capture(published_points(modcod), kSnrDb),
                            constellation_for(0x3F, pls), modcod_of(pls));
    EXPECT_NEAR(mer.value_or(0), kSnrDb, 0.5) << "MODCOD " << modcod;
  }
  EXPECT_FALSE(mer_db(std::vector<std::pair<int, int>>(16, {0, 0}), Constellation::qpsk, 0));
}

// The mode picks the constellation: DVB-S2 by MODCOD (0x5C bits 7..2), anything else QPSK (the
// APSK MODCODs: MatchesTheNoiseOfEachModcodsConstellation).
TEST(Mer, ConstellationChangesAtTheModcodBoundaries) {
  using enum Constellation;
  const std::tuple<uint8_t, int, Constellation> cases[] = {
      {0x3F, 11, qpsk},
      {0x3F, 12, psk8},
      {0x3F, 17, psk8},
      {0x3F, 29, qpsk},
      {0x37, 25, qpsk}};  // DVB-S: no DVB-S2 bit
  for (const auto& [lock, modcod, expected] : cases) {
    EXPECT_EQ(constellation_for(lock, static_cast<uint8_t>(modcod << 2)), expected) << modcod;
  }
}

TEST(FeedStore, EventsAndCountersFollowTheSamples) {
  FeedStore feed({"a"});
  std::string seen;
  feed.subscribe({{},
                  [&](const BoardEvent& e) {
                    const bool lost = e.kind == EventKind::lock_lost;
                    seen += event_kind_name(e.kind) + (lost ? " " + e.detail : "") + ";";
                  },
                  {}});
  WallTime t{};
  for (const int lock : {0x3F, 0x0F, 0x00, 0x3F, -1, 0x07, 0x3F}) {  // -1: no connection
    BoardSample s;
    s.board = "a";
    s.time = t;
    s.connected = lock >= 0;
    s.lock_status = static_cast<uint8_t>(std::max(lock, 0));
    feed.publish_sample(s);
    seen += "|";  // after the events of each sample
    t += 1s;
  }
  EXPECT_EQ(seen,
            "|lock_lost CR;||lock_gained;|disconnected;|reconnected;lock_lost SYNC;|lock_gained;|");
  // The longest outage: 1 s .. 3 s, and 4 s .. 6 s.
  EXPECT_EQ(summary_line("a", feed.counters("a")),
            "a: 7 samples, 1 failures, 2 lock losses, longest outage 2.000 s");
  seen.clear();
  feed.publish_capture_failure("a", t, "why");
  EXPECT_EQ(seen, "capture_failed;");
  EXPECT_EQ(feed.events("a").back().detail, "why");
  EXPECT_EQ(feed.counters("a").capture_failures, 1u);
  EXPECT_EQ(feed.history("a", 3).front().time, WallTime{} + 4s);
  EXPECT_FALSE(feed.request_capture("b"));
  EXPECT_TRUE(feed.request_capture("a"));
  EXPECT_TRUE(feed.take_capture_request("a"));
  EXPECT_FALSE(feed.take_capture_request("a"));
  // The newest 1000 events are kept: after 1000 more lock changes, none of the older ones.
  BoardSample s;
  s.board = "a";
  s.connected = true;
  for (int i = 1; i <= 1000; ++i) {
    s.time = t + i * 1s;
    s.lock_status = i % 2 == 1 ? 0x0F : 0x3F;
    feed.publish_sample(s);
  }
  EXPECT_EQ(feed.events("a").size(), 1000u);
  EXPECT_EQ(feed.events("a").front().time, t + 1s);
}

TEST(BoardTarget, BoardOptionsAndTheirFaults) {
  // text, "host port channel address speed" / "usb BUS address", or the error
  const std::pair<const char*, const char*> cases[] = {
      {"a=127.0.0.1:7468/0@208", "127.0.0.1 7468 0 208 100"},
      {"rack-2=[::1]:7468/3@210,400", "::1 7468 3 210 400"},
      {"b=usb:sim@208", "usb sim 208"},
      {"b=usb:sim:/x@y/s.json@208", "usb sim:/x@y/s.json 208"},
      {"b=usb:@208", "usb  208"},
      {"a=127.0.0.1:0x1D2C/0x1@0xD0,0x190", "127.0.0.1 7468 1 208 400"},
      {"s=sim:f.json", "usb sim:f.json 208"},
      {"a=127.0.0.1:7468/0@-1", "--board a: address '-1' is not a number from 0 to 255"},
      {"a=127.0.0.1:7468/0@0x", "--board a: address '0x' is not a number from 0 to 255"},
      {"a=127.0.0.1:0/0@208", "--board a: port '0' is not a number from 1 to 65535"},
      {"a=127.0.0.1:7468/0@256", "--board a: address '256' is not a number from 0 to 255"},
      {"a=127.0.0.1:7468@208", "--board a: expected HOST:PORT/CHANNEL@ADDRESS[,SPEED]"},
      {"a=[::1:7468/0@208", "--board a: expected [IPV6]:PORT/CHANNEL@ADDRESS"},
      {"a b=usb:sim@208", "--board: a name is 1 to 64 of the characters A-Z a-z 0-9 - _ ."},
      {"usb:sim@208", "--board: expected NAME=TARGET"},
  };
  for (const auto& [text, expect] : cases) {
    const auto t = parse_board_option(text);
    const auto& d = t ? t->device : I2cDevice{};
    const std::string got =
        !t       ? t.error().cause
        : t->usb ? "usb " + t->bus + " " + std::to_string(d.address)
                 : d.host + " " + std::to_string(d.port) + " " + std::to_string(d.channel) + " " +
                       std::to_string(d.address) + " " + std::to_string(d.speed);
    EXPECT_EQ(got, expect) << text;
    if (!t) {
      EXPECT_EQ(t.error().text(), std::string("bad argument: ") + expect) << text;
    }
  }
}

TEST(MonitorOptions, NumbersAndLayoutsAreChecked) {
  // the arguments, the error (empty: accepted)
  const std::pair<std::vector<const char*>, const char*> cases[] = {
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
  for (const auto& [args, error] : cases) {
    std::vector<const char*> argv = {"demodmon"};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto p = parse_monitor_options(static_cast<int>(argv.size()), argv.data(), "sim");
    EXPECT_EQ(p.message, error) << (args.empty() ? "" : args.back());
    EXPECT_EQ(p.exit_status, *error == '\0' ? 0 : kExitUsage);
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

TEST(MonitorConfig, FaultsNameTheLineAndTheKey) {
  const std::pair<const char*, const char*> cases[] = {
      {"interval = 5", "f.toml:1: interval: needs a whole number from 10 to 3600000"},
      {"\ncount = -1", "f.toml:2: count: needs a whole number from 0 to 1000000000000"},
      {"json = 1", "f.toml:1: json: needs true or false"},
      {"boards = [\"a=usb:0@208\",\n  \"a=usb:1@208\"]", "f.toml:2: boards: board a given twice"},
      {"boards = \"a=usb:0@208\"", "f.toml:1: boards: needs an array of texts: [\"...\", \"...\"]"},
      {"[http]\nlisten = \"127.0.0.1\"",
       "f.toml:2: http.listen: needs ADDR:PORT (PORT 0..65535), not '127.0.0.1'"},
      {"[http]\nport = 1", "f.toml:2: http.port: unknown key (the keys of [http]: listen, allow)"},
      {"intervall = 10",
       "f.toml:1: intervall: unknown key (the keys: boards, interval, count, json, [http], "
       "[captures])"},
      {"interval = 10\n[http",
       "f.toml:2: Error while parsing table header: encountered end-of-file"},
  };
  for (const auto& [text, error] : cases) {
    const auto loaded = parse_monitor_config("f.toml", text);
    EXPECT_FALSE(loaded.config) << text;
    EXPECT_EQ(loaded.error, error) << text;
  }
}

TEST(MonitorConfig, EveryKeyIsReadAndTheCommandLineWins) {
  const testing::TempDir dir;
  const std::string path = testing::write_file(dir.path(), "demodmon.toml", R"(
boards = ["a=usb:0@208", "b=usb:1@208"]
interval = 500
count = 3
json = true
[http]
listen = "[::1]:7469"
allow = ["::1"]
[captures]
allowed = true
every = 10
dir = "/var/lib/demodmon"
)");
  const char* argv[] = {"demodmon", "--config", path.c_str(), "--interval", "20"};
  const auto parsed = parse_monitor_options(5, argv, "");
  ASSERT_TRUE(parsed.options) << parsed.message;
  const MonitorOptions& o = *parsed.options;
  ASSERT_EQ(o.boards.size(), 2u);
  ASSERT_TRUE(o.http);
  EXPECT_EQ(std::tuple(o.interval.count(), o.count, o.json, o.boards[1].name, o.http->listen,
                       o.http->port, o.http->allow, o.http->captures_allowed, o.capture_every,
                       o.capture_dir),
            std::tuple(20, 3u, true, "b", "::1", 7469, std::vector<std::string>{"::1"}, true, 10u,
                       "/var/lib/demodmon"));
  testing::write_file(dir.path(), "demodmon.toml", "\ncount = 'x'\n");
  const auto bad = parse_monitor_options(3, argv, "");
  EXPECT_EQ(bad.exit_status, kExitUsage);
  EXPECT_EQ(bad.message,
            "demodmon: " + path + ":2: count: needs a whole number from 0 to 1000000000000");
}

}  // namespace
}  // namespace demodctl::monitor
