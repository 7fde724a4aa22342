// The simulated board: register pointer, repeater, lock model, faults, scenario errors; the
// tuning read back from tuner registers, and the transponder it receives.
#include "sim/sim_board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "capture/samples.h"
#include "measure/formulas.h"
#include "sim/tuner_model.h"
#include "support/recording_backends.h"
#include "tuner/rda5815.h"
#include "tuner/tuner0.h"

namespace demodctl::sim {
namespace {

using testing::kBusFailure;
using testing::kNack;
using testing::kOk;
using testing::status_of;

using Bytes = std::vector<uint8_t>;
using Writes = std::vector<std::pair<uint8_t, Bytes>>;  // register, bytes from it
constexpr uint8_t kDemod = 0xD0;                        // 8-bit address bytes
constexpr uint8_t kTuner = 0xC0;

std::string write_result(SimBoard& board, uint8_t address, uint8_t reg, Bytes data) {
  data.insert(data.begin(), reg);
  return status_of(board.transfer(static_cast<uint8_t>(address >> 1), data, {}));
}
bool write(SimBoard& board, uint8_t address, uint8_t reg, Bytes data) {
  return write_result(board, address, reg, std::move(data)) == kOk;
}
// The bytes read from reg; nothing when not acknowledged.
std::optional<Bytes> read(SimBoard& board, uint8_t address, uint8_t reg, size_t count) {
  Bytes rx(count);
  const uint8_t tx[] = {reg};
  if (!board.transfer(static_cast<uint8_t>(address >> 1), tx, rx)) {
    return std::nullopt;
  }
  return rx;
}
// Successive reads of the lock status register 0x2C.
Bytes lock_reads(SimBoard& board, int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) out.push_back(read(board, kDemod, 0x2C, 1).value_or(Bytes{0xEE})[0]);
  return out;
}
// The board of the scenario; the default board (and a failed test) when it is refused.
std::unique_ptr<SimBoard> board_from(const std::string& json) {
  auto board = SimBoard::from_json_text(json);
  if (board) return std::move(*board);
  ADD_FAILURE() << json << ": " << board.error().cause;
  return SimBoard::make_default();
}

// A tuner behind the repeater answers exactly one transaction per opening (a direct one always:
// tests/golden, tuner_set.direct).
TEST(SimBoard, RepeaterPassesExactlyOneTunerTransaction) {
  auto board = SimBoard::make_default();
  EXPECT_EQ(write_result(*board, kTuner, 0x05, {0x11}), kNack) << "closed repeater";
  ASSERT_TRUE(write(*board, kDemod, 0x2D, {0x01}));
  EXPECT_TRUE(read(*board, kDemod, 0x6C, 4)) << "demodulator traffic leaves it open";
  EXPECT_TRUE(write(*board, kTuner, 0x05, {0x22, 0x33}));
  EXPECT_EQ(write_result(*board, kTuner, 0x05, {0x44}), kNack) << "closed after one";
  EXPECT_EQ(board->demod_reg(0x2D), 0x00);
  ASSERT_TRUE(write(*board, kDemod, 0x2D, {0x01}));
  EXPECT_EQ(read(*board, kTuner, 0x05, 2), (Bytes{0x22, 0x33}));
}

// Held (hot reset 0x01, or the start-up's reset pulse until 0xA8 <- 0x80), 0x2C reads 0; after the
// restart the flags come back one stage per read (or per `acquisition_reads_per_stage` reads).
TEST(SimBoard, AcquisitionHeldThenRestartedInStages) {
  const std::tuple<const char*, bool, Bytes> cases[] = {
      // scenario, held by the hot reset (else by the start-up's pulse), the 0x2C reads after it
      {R"({"demod": {"registers": {"0x2C": 63}}})", true, {1, 3, 7, 0x0F, 0x1F, 0x3F, 0x3F}},
      {R"({"demod": {"registers": {"0x2C": 63}}, "acquisition_reads_per_stage": 2})",
       true,
       {1, 1, 3, 3, 7, 7, 0x0F}},
      {R"({"signal": {}})", false, {1, 3, 7, 0x0F, 0x1F, 0x3F, 0x3F}},
      // A scripted fade masks the acquisition's flags for its reads (the three held ones count
      // too), then leaves them.
      {R"({"signal": {}, "lock_timeline": [{"reads": 5, "lock": 1}, {"reads": 1, "lock": 0}]})",
       false,
       {1, 1, 0, 0x0F, 0x1F, 0x3F}},
  };
  for (const auto& [scenario, hot, after] : cases) {
    auto board = board_from(scenario);
    ASSERT_TRUE(hot ? write(*board, kDemod, 0x2E, {0x01}) : write(*board, kDemod, 0x00, {0x81}));
    EXPECT_EQ(lock_reads(*board, 3), (Bytes{0, 0, 0})) << scenario << ": held";
    ASSERT_TRUE(hot ? write(*board, kDemod, 0x2E, {0x03}) : write(*board, kDemod, 0xA8, {0x80}));
    EXPECT_EQ(lock_reads(*board, int(after.size())), after) << scenario;
  }
}

// Injected faults fail the transfer (a failure, not a NACK: they say nothing about the device).
TEST(SimBoard, FailOpsAndDropAtOpsHitExactlyTheListedTransactions) {
  auto board = board_from(R"({"faults": {"fail_ops": [2, "4"], "drop_at_ops": [5]}})");
  const std::string ok(kOk), failed(kBusFailure);
  std::vector<std::string> results;
  std::vector<bool> drops;
  for (uint8_t i = 1; i <= 6; ++i) {
    results.push_back(write_result(*board, kDemod, 0x40, {i}));
    drops.push_back(board->take_drop_request());
  }
  EXPECT_EQ(results, (std::vector<std::string>{ok, failed, ok, failed, failed, ok}));
  EXPECT_EQ(drops, (std::vector<bool>{false, false, false, false, true, false}));
  EXPECT_EQ(board->demod_reg(0x40), 6);
}

// The register pointer moves on with each byte, from 0xFF round to 0x00. With 0x2E failing, a
// transfer whose range covers it fails whole, nothing of it applied; a pointer alone does not.
TEST(SimBoard, PointerWrapsAndAFailingRegisterRefusesAnyRangeCoveringIt) {
  // register pointer and data written, bytes read, acknowledged, a register and its value after
  const std::tuple<Bytes, size_t, bool, uint8_t, uint8_t> cases[] = {
      {{0x10, 0xA1, 0xA2, 0xA3}, 0, true, 0x12, 0xA3},
      {{0xFE, 0x11, 0x22, 0x33}, 0, true, 0x00, 0x33},
      {{0x2E, 0x01}, 0, false, 0x2D, 0},
      {{0x2E}, 1, false, 0x2D, 0},
      {{0x2A}, 4, true, 0x2D, 0},
      {{0x2C, 0x3F, 0x01, 0x01}, 0, false, 0x2D, 0},
      {{0x2F}, 4, true, 0x2D, 0},
      {{0x2E}, 0, true, 0x2D, 0},
      {{0xF0}, 0x40, false, 0x2D, 0}};  // the last wraps round to it
  for (const auto& [tx, rx_size, acked, reg, value] : cases) {
    auto board = board_from(R"({"faults": {"fail_registers": [{"register": "0x2E"}]}})");
    Bytes rx(rx_size);
    EXPECT_EQ(status_of(board->transfer(kDemod >> 1, tx, rx)), acked ? kOk : kBusFailure)
        << int(tx[0]) << "+" << rx_size;
    EXPECT_EQ(board->demod_reg(reg), value) << int(tx[0]) << "+" << rx_size;
  }
}

TEST(SimBoard, StuckLowBitsNeverRise) {
  auto board = board_from(R"({"demod": {"registers": {"0x38": "0x86", "0x2C": "0x3F"}},
      "faults": {"stuck_low": [{"register": "0x38", "mask": "0x80"},
                               {"address": "0xD0", "register": "0x2C", "mask": "0x20"}]}})");
  EXPECT_EQ(read(*board, kDemod, 0x37, 2), (Bytes{0x00, 0x06}));
  ASSERT_TRUE(write(*board, kDemod, 0x38, {0xFF}));
  EXPECT_EQ(read(*board, kDemod, 0x38, 1), Bytes{0x7F});
  EXPECT_EQ(board->demod_reg(0x38), 0xFF) << "stored value is kept";
  EXPECT_EQ(lock_reads(*board, 1), Bytes{0x1F}) << "FEC flag never rises";
}

// Random faults: one seed gives one sequence of faults; a stuck stretch holds the AGC ready and
// capture-complete flags low while the registers keep their values.
TEST(SimBoard, RandomFaultsRepeatFromTheSeed) {
  const auto outcomes = [](const std::string& random) {
    auto board = board_from(R"({"faults": {"random": {)" + random + "}}}");
    std::string seen;  // per write: '.' acknowledged, 'f' refused, 'd' dropped
    for (uint8_t i = 0; i < 64; ++i) {
      const bool acked = write(*board, kDemod, 0x40, {i});
      seen += board->take_drop_request() ? 'd' : acked ? '.' : 'f';
    }
    return seen;
  };
  const std::string rates = R"("fail_per_million": 250000, "drop_per_million": "250000")";
  const std::string first = outcomes(R"("seed": 1, )" + rates);
  EXPECT_EQ(outcomes(R"("seed": 1, )" + rates), first);
  EXPECT_NE(outcomes(R"("seed": 2, )" + rates), first);
  for (const char kind : {'.', 'f', 'd'}) EXPECT_NE(first.find(kind), std::string::npos) << first;
  EXPECT_EQ(outcomes(R"("fail_per_million": 1000000)"), std::string(64, 'f'));

  auto stuck =
      board_from(R"({"signal": {}, "faults": {"random": {"stuck_per_million": 1000000}}})");
  ASSERT_TRUE(write(*stuck, kDemod, 0xEA, {0x20}));  // capture start
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(read(*stuck, kDemod, 0x37, 2), (Bytes{0x34, 0x06})) << i;
    EXPECT_EQ(read(*stuck, kDemod, 0xEA, 1), Bytes{0x20}) << i;
  }
  EXPECT_EQ(stuck->demod_reg(0x38), 0x86) << "the stored value is kept";
}

TEST(Scenario, MalformedInputsGiveAOneLineFault) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "not JSON"},
      {"[]", "top level: expected an object"},
      {R"({"demod": {"adress": "0xD0"}})", "demod: unknown key 'adress'"},
      {R"({"demod": {"address": "0xD1"}})", "must be even"},
      {R"({"demod": {"address": "0x1000000000000000000"}})", "255, got 0x1000000000000000000"},
      {R"({"demod": {"address": -2}})", "demod.address: expected a number from 0 to 255, got -2"},
      {R"({"faults": {"fail_ops": [1, -1e999]}})", "fail_ops[1]: number -1e999 out of range"},
      {R"({"tuners": [{}, {"address": 2, "address": 2}]})", "tuners[1]: duplicate key 'address'"},
      {R"({"demod": {"registers": {"0x2C": 1, "44": 2}}})", "44: register 0x2C given twice"},
      {R"({"demod": {"identity": "01 00 36"}})", "expected 4 hex bytes"},
      {R"({"demod": {"identity": "01\t00\n36 31 30"}})", "expected 4 hex bytes"},
      {R"({"tuners": [{"address": "0xD0"}]})", "already used"},
      {R"({"channels": [0, 0]})", "listed twice"},
      {R"({"bad\nkey": 1})", "unknown key 'bad?key'"},
      {std::string(100, '[') + std::string(100, ']'), "nesting deeper than"},
      {R"({"signal": {"standard": "DVB-T"}})", "signal.standard: expected \"DVB-S2\""},
      {R"({"signal": {"cn_db": "9"}})", "signal.cn_db: expected a number, got string"},
      {R"({"signal": {}, "transponders": []})", "'signal' and 'transponders' exclude each other"},
      {R"({"transponders": [{"modcod": 4}]})", "transponders[0]: missing 'frequency_mhz'"},
      {R"({"transponders": [{"frequency_mhz": 0.5}]})",
       "transponders[0].frequency_mhz: expected a number from 1 to 50000"},
      {R"({"signal": {"power_dbm": 1}})", "power_dbm: expected a number from -100 to 0"},
      {R"({"tuners": [{"address": 192, "type": 1}]})", "tuners[0].type: expected \"rda5815\""},
  };
  for (const auto& [text, problem] : cases) {
    const auto loaded = SimBoard::from_json_text(text);
    ASSERT_FALSE(loaded) << text;
    const std::string& error = loaded.error().cause;
    EXPECT_TRUE(error.starts_with("scenario: ") && error.find(problem) != std::string::npos &&
                error.find_first_of("\n") == std::string::npos &&
                error.find("json.exception") == std::string::npos)
        << text << " -> " << error;
  }
}

// The identity wins over registers 0x6C..0x6F; every list has its bound, one past it is refused.
TEST(Scenario, PrecedenceAndLimits) {
  auto board = board_from(
      R"({"demod": {"identity": " 10\t01  36\n31 ", "registers": {"0x6C": 0, "0x6F": "0x30"}}})");
  EXPECT_EQ(read(*board, kDemod, 0x6C, 4), (Bytes{0x10, 0x01, 0x36, 0x31}));
  const auto list = [](int n, const std::string& prefix, const std::string& suffix) {
    std::string s;  // n items: prefix 2 suffix, prefix 4 suffix, ...
    for (int i = 1; i <= n; ++i) s += (i > 1 ? "," : "") + prefix + std::to_string(2 * i) + suffix;
    return s;
  };
  const std::pair<std::string, bool> cases[] = {
      {R"({"tuners": [)" + list(4, R"({"address": "0x)", "\"}") + "]}", true},
      {R"({"tuners": [)" + list(5, R"({"address": "0x)", "\"}") + "]}", false},
      {R"({"channels": [)" + list(16, "", "") + "]}", true},
      {R"({"channels": [)" + list(17, "", "") + "]}", false},
      {R"({"channels": [255]})", true},
      {R"({"channels": [256]})", false},
      {R"({"acquisition_reads_per_stage": 1000000})", true},
      {R"({"acquisition_reads_per_stage": 1000001})", false},
      {R"({"lock_timeline": [{"reads": 1000000, "lock": "0x3F"}]})", true},
      {R"({"lock_timeline": [{"reads": 0, "lock": 0}]})", false},
      {R"({"lock_timeline": [{"reads": 1, "lock": 64}]})", false},
      {R"({"lock_timeline": [{"reads": 1}]})", false},
      {R"({"faults": {"fail_ops": [4294967295]}})", true},
      {R"({"faults": {"fail_ops": [4294967296]}})", false},
      {R"({"faults": {"fail_ops": [)" + list(256, "", "") + "]}}", true},
      {R"({"faults": {"fail_ops": [)" + list(257, "", "") + "]}}", false},
      {R"({"faults": {"random": {"fail_per_million": 999999, "stuck_per_million": 1}}})", true},
      {R"({"faults": {"random": {"drop_per_million": 2, "stall_per_million": 999999}}})", false},
      {R"({"faults": {"random": {"stall_ms": 10000, "stuck_reads": 1000000}}})", true},
      {R"({"faults": {"random": {"stall_ms": 10001}}})", false},
      {R"({"faults": {"random": {"stuck_reads": 0}}})", false},
      {R"({"faults": {"random": {"seed": 18446744073709551615}}})", true},
  };
  for (const auto& [text, ok] : cases) {
    const auto loaded = SimBoard::from_json_text(text);
    EXPECT_EQ(loaded.has_value(), ok) << text << ": " << (loaded ? "" : loaded.error().cause);
  }
}

// A capture completes after a few polls of 0xEA; then 0xEF gives 2048 words in the format 0x2F
// selects. Locked, every sample sits near a point of the modulation (QPSK at 30 dB C/N: (+-A,
// +-A)/sqrt 2, A = 100 in 9-bit fields and 50 in 8-bit ones); unlocked, it is noise around 0.
TEST(SimBoard, CaptureSamplesFollowSignalAndFormat) {
  // the signal, the format (0x2F), |I| and |Q| of the points (0: noise)
  const std::tuple<const char*, uint8_t, double> cases[] = {
      {R"("standard": "DVB-S", "cn_db": 30)", 0x30, 70.7},
      {R"("standard": "DVB-S", "cn_db": 30)", 0x7C, 35.4},
      {R"("locked": false)", 0x30, 0.0},
  };
  for (const auto& [signal, format, point] : cases) {
    auto board = board_from(std::string(R"({"signal": {)") + signal + "}}");
    ASSERT_TRUE(write(*board, kDemod, 0x2F, {format}));
    ASSERT_TRUE(write(*board, kDemod, 0xEA, {0x20}));
    for (int i = 0; i < 3; ++i) read(*board, kDemod, 0xEA, 1);  // complete on the third poll
    Bytes data;
    for (int i = 0; i < 8192; ++i) data.push_back(read(*board, kDemod, 0xEF, 1).value()[0]);
    double power = 0;
    for (size_t n = 0; n < 2048; ++n) {
      ASSERT_EQ(data[4 * n + 3], 0) << n;
      const auto kind = format == 0x7C ? SampleFormat::eight_bit : SampleFormat::nine_bit;
      const auto [i, q] = decode_word(std::span<const uint8_t, 4>(&data[4 * n], 4), kind);
      power += (double(i) * i + double(q) * q) / 2 / 2048;
      const auto near = [&](int x) { return std::abs(std::abs(x) - point) < point / 5; };
      EXPECT_TRUE(point == 0 || (near(i) && near(q))) << n << ": " << i << ", " << q;
    }
    EXPECT_TRUE(point > 0 || std::abs(std::sqrt(power) - 30.0) < 3.0)  // noise of 30 a component
        << std::sqrt(power);
  }
}

// The samples are drawn once per start, in the order of the starts, whenever they are drawn.
TEST(SimBoard, CaptureSamplesTheSameWhenEverDrawn) {
  // The second capture's first 16 words; 's': settled after each start, 'r': the first read too.
  const auto second_capture = [](char drawn) {
    auto board = board_from("{}");
    Bytes data;
    for (int start = 0; start < 2; ++start) {
      EXPECT_TRUE(write(*board, kDemod, 0xEA, {0x20}));
      if (drawn == 's') board->settle();
      data.clear();
      while ((drawn == 'r' || start == 1) && data.size() < 64) {
        data.push_back(read(*board, kDemod, 0xEF, 1).value()[0]);
      }
    }
    return data;
  };
  EXPECT_EQ(second_capture('s'), second_capture('-'));
  EXPECT_EQ(second_capture('r'), second_capture('-'));
}

// The bytes stored in the registers a signal gives, in hex: 23..25 29..2C 37 38 4C..4F 5C 7E 7F
// 83..85 8E 97 9D.
std::string signal_registers(const SimBoard& board) {
  std::string out;
  char byte[4];
  for (const int reg : {0x23, 0x24, 0x25, 0x29, 0x2A, 0x2B, 0x2C, 0x37, 0x38, 0x4C, 0x4D,
                        0x4E, 0x4F, 0x5C, 0x7E, 0x7F, 0x83, 0x84, 0x85, 0x8E, 0x97, 0x9D}) {
    std::snprintf(byte, sizeof byte, "%02X ", board.demod_reg(static_cast<uint8_t>(reg)));
    out += byte;
  }
  return out.substr(0, out.size() - 1);
}

// What the signal gives, and explicit registers winning over it.
TEST(Signal, RegistersOfTheSignal) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"signal": {"standard": "DirecTV", "code_rate": 5, "ber": 0.0005, "power_dbm": -5}})",
       "00 77 01 66 55 14 37 00 80 74 FF AB 06 00 97 83 20 96 00 0B 00 00"},
      {R"({"signal": {"locked": false, "power_dbm": -89.85}})",
       "00 77 01 00 00 00 00 F0 8F 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {R"({"signal": {"modcod": 11, "short_frame": true, "pilots": false, "roll_off": 2,
          "ber": 0.001, "ber_window": 0, "cn_db": 50, "lock_time_ms": 1710,
          "carrier_offset_khz": -1e7, "symbol_rate_offset_khz": 0.01}})",
       "00 77 01 FF FF FF 3F 34 86 01 00 00 80 2E 01 80 00 E9 00 00 80 80"},
      {R"({"signal": {"fc_khz": 0, "power_dbm": -100}, "demod": {"registers": {"0x2C": 1}}})",
       "00 00 00 66 55 14 01 FF 8F 00 00 00 00 39 97 83 20 DC 04 00 80 00"},
  };
  for (const auto& [scenario, registers] : cases) {
    auto board = board_from(scenario);
    EXPECT_EQ(signal_registers(*board), registers) << scenario;
  }
}

// The BER a scenario states is what ber_calc's formula makes of the registers, on each branch.
TEST(Signal, BerComesBackAsTheScenarioStatesIt) {
  for (const std::string standard : {"DVB-S", "DirecTV", "DVB-S2"}) {
    auto board = board_from(R"({"signal": {"ber": 0.001, "ber_window": 2, "standard": ")" +
                            standard + "\"}}");
    const bool dvbs2 = (board->demod_reg(0x2C) & 0x08) != 0;  // lock status: DVB-S2
    const double ber =
        bit_error_rate(dvbs2, board->demod_reg(0x84), board->demod_reg(0x85),
                       board->demod_reg(0x83), board->demod_reg(dvbs2 ? 0x5C : 0x8E));
    EXPECT_NEAR(ber, 0.001, 0.00001) << standard;  // the count rounded to a whole number
  }
}

// The lock time in 10 ms units, rounded half up, spread over the five fields of 0x29..0x2B.
TEST(Signal, LockTimeRoundedToTenMilliseconds) {
  const std::pair<int, Bytes> cases[] = {
      {4, {0x00, 0x00, 0x00}},   {5, {0x01, 0x00, 0x00}},    {274, {0x66, 0x55, 0x14}},
      {275, {0x66, 0x56, 0x14}}, {1704, {0xFF, 0xFF, 0xFB}}, {1705, {0xFF, 0xFF, 0xFF}},
  };
  for (const auto& [ms, bytes] : cases) {
    auto board = board_from(R"({"signal": {"lock_time_ms": )" + std::to_string(ms) + "}}");
    EXPECT_EQ(read(*board, kDemod, 0x29, 3), bytes) << ms;
  }
}

// The ready flag shows after agc_settle_reads reads of 0x37, and again after a restart.
TEST(Signal, AgcReadyFlagAfterSettleReads) {
  const auto high_bytes = [](SimBoard& board, int n) {
    Bytes out;
    for (int i = 0; i < n; ++i) out.push_back(read(board, kDemod, 0x37, 2).value()[1]);
    return out;
  };
  auto board = board_from(R"({"signal": {"agc_settle_reads": 2}})");
  EXPECT_EQ(high_bytes(*board, 3), (Bytes{0x06, 0x86, 0x86}));
  ASSERT_TRUE(write(*board, kDemod, 0x2E, {0x03}));
  EXPECT_EQ(high_bytes(*board, 2), (Bytes{0x06, 0x86}));
}

// Every shipped scenario loads, and the default board is dvbs2_locked.json.
TEST(Scenario, ShippedScenarios) {
  for (const char* name : {"dvbs2_locked", "dvbs_locked", "directv_locked", "no_signal", "no_chip",
                           "direct_tuner", "faulty", "transponders"}) {
    auto board = SimBoard::from_file(std::string(SCENARIO_DIR) + "/" + name + ".json");
    ASSERT_TRUE(board) << board.error().cause;
    if (std::string(name) != "dvbs2_locked") continue;
    const auto standard = SimBoard::make_default();
    for (int reg = 0; reg < 256; ++reg) {
      EXPECT_EQ((*board)->demod_reg(uint8_t(reg)), standard->demod_reg(uint8_t(reg))) << reg;
    }
  }
}

// A tuning onto a transponder: lock comes up stage by stage with that transponder's flags and
// mode; a setting that is reopened, or a new frequency off the transponders, drops it at once.
// Stated registers win over each new signal picture; what the tool wrote elsewhere stays.
TEST(SimBoard, LocksOnTheTransponderTunedThenDropsWhenTunedAway) {
  auto board = board_from(R"({"demod": {"registers": {"0x7E": 5, "0x33": 0}}, "transponders": [
      {"frequency_mhz": 1550, "modcod": 18}, {"frequency_mhz": 1210, "standard": "DVB-S"}],
    "tuners": [{"address": "0xC0", "behind_repeater": false},
               {"address": "0xC6", "behind_repeater": false, "type": "type0"}]})");
  const Writes rda = {{0x07, {8, 0x12, 0xA8, 0xA6}}, {0x04, {0xC3}}, {0x2B, {0x97}}};
  const Writes type0 = {{0x24, {0x36, 0x00}}, {0x00, {0x2D, 0xD0, 0x97, 0x50}}, {0x25, {0x06}}};
  const std::tuple<uint8_t, Writes, Writes, Bytes, uint8_t, uint8_t> cases[] = {
      {0xC0, rda, {{0x04, {0xC1}}}, {1, 3, 7, 0x0F, 0x1F, 0x3F, 0x3F}, 0x5C, 0x49},
      {0xC6, type0, {{0x00, {0x2E}}}, {1, 3, 7, 7, 0x17, 0x37, 0x37}, 0x8E, 0x04}};
  EXPECT_EQ(lock_reads(*board, 2), (Bytes{0, 0})) << "nothing received before tuning";
  ASSERT_TRUE(write(*board, kDemod, 0x33, {0x02}));
  for (const auto& [tuner, setting, away, lock, mode_reg, mode] : cases) {
    for (const auto& [reg, bytes] : setting) ASSERT_TRUE(write(*board, tuner, reg, bytes));
    EXPECT_EQ(lock_reads(*board, int(lock.size())), lock) << int(tuner);
    EXPECT_EQ(board->demod_reg(mode_reg), mode) << int(tuner);
    EXPECT_EQ(read(*board, kDemod, 0x7E, 2), (Bytes{0x05, 0x83}))
        << "stated 0x7E, the signal's 0x7F";
    EXPECT_EQ(board->demod_reg(0x33), 0x02) << int(tuner);
    for (const auto& [reg, bytes] : away) ASSERT_TRUE(write(*board, tuner, reg, bytes));
    EXPECT_EQ(lock_reads(*board, 2), (Bytes{0, 0})) << int(tuner);
    EXPECT_EQ(read(*board, kDemod, 0x37, 2), (Bytes{0xF0, 0x0F})) << "full gain, settling again";
  }
}

RegisterFile registers(const Writes& writes) {
  RegisterFile r{};
  for (const auto& [reg, bytes] : writes) std::copy(bytes.begin(), bytes.end(), r.begin() + reg);
  return r;
}

TEST(TunerModel, DecodesTheTuning) {
  const auto rda = TunerType::rda5815;
  const auto t0 = TunerType::type0;
  const std::tuple<TunerType, Writes, std::optional<Tuning>> cases[] = {
      {rda,
       {{0x07, {8, 0x12, 0xA8, 0xA6, 0x5C}}, {0x04, {0xC3}}, {0x2B, {0x97}}},
       {{1550000, 35556}}},
      {rda, {{0x07, {8, 0x12, 0xA8, 0xA6, 0x5C}}, {0x04, {0xC3}}, {0x2B, {0x95}}}, {}},
      {t0, {{0x00, {0x23, 0x2F, 0x68, 0xD0, 0, 108}}, {0x25, {0x06}}}, {{950000, 35887}}},
      {t0, {{0x00, {0x38, 0x8E, 0x39, 0xD0}}, {0x25, {0x06}}}, {{1500000, 0}}},
      {t0, {{0x00, {0x39, 0x68, 0x4B, 0x50}}, {0x25, {0x00}}}, {}},
  };
  for (const auto& [type, writes, tuning] : cases) {
    EXPECT_EQ(decode_tuning(type, registers(writes)), tuning) << int(writes[0].second[0]);
  }
  // What the drivers write for every MHz of the band reads back as that frequency.
  for (int32_t mhz = 950; mhz <= 2150; ++mhz) {
    const uint32_t w = rda5815_freq_word(mhz);
    const auto synth = tuner0_synth_bytes(mhz);
    const Writes rda_writes = {
        {0x07, {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)}},
        {0x04, {0xC3}},
        {0x2B, {0x97}}};
    const Writes t0_writes = {{0x00, {synth.begin(), synth.end()}}, {0x25, {0x06}}};
    ASSERT_EQ(decode_tuning(rda, registers(rda_writes)).value().frequency_khz,
              uint32_t(mhz) * 1000);
    ASSERT_EQ(decode_tuning(t0, registers(t0_writes)).value().frequency_khz, uint32_t(mhz) * 1000);
  }
}

// Transponders at 1550 MHz (27500 ksps: +/-13750 kHz) and 1570 MHz (DVB-S, 2000 ksps: +/-1000).
TEST(TunerModel, ReceivesTheNearestTransponderWithinItsCaptureRange) {
  Signal wide;
  wide.carrier_offset_khz = 1250;
  Signal narrow = wide;
  narrow.symbol_rate_ksps = 2000;
  narrow.standard = Standard::dvbs;
  const Transponder transponders[] = {{1550000, wide}, {1570000, narrow}};
  const std::tuple<std::optional<uint32_t>, bool, Standard, double> cases[] = {
      {1550000, true, Standard::dvbs2, 1250},      {1563750, true, Standard::dvbs2, -12500},
      {1536250, true, Standard::dvbs2, 15000},     {1536249, false, Standard::dvbs2, 1250},
      {1569000, true, Standard::dvbs, 2250},       {1571000, true, Standard::dvbs, 250},
      {1571001, false, Standard::dvbs2, 1250},     {1200000, false, Standard::dvbs2, 1250},
      {std::nullopt, false, Standard::dvbs2, 1250}};
  for (const auto& [khz, locked, standard, carrier] : cases) {
    const Signal s = received_signal(
        transponders, khz ? std::optional(Tuning{*khz, 36000}) : std::optional<Tuning>());
    EXPECT_EQ(std::tuple(s.locked, s.standard, s.carrier_offset_khz, s.power_dbm),
              std::tuple(locked, standard, carrier, locked ? -39.4 : -89.85))
        << khz.value_or(0);
  }
}

}  // namespace
}  // namespace demodctl::sim
