// The measurements' formulas; the readings they return on an open connection (the registers
// read, the lock state, the figure), also taken again on the same connection; then the six
// commands over the recording doubles of both transports: their lines, exits and the debug log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "bus/server_board_bus.h"
#include "debug_log/debug_log.h"
#include "measure/formulas.h"
#include "measure/measurements.h"
#include "support/process.h"
#include "support/recording_backends.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

const std::string kFail = "error=err no connection,failed,return=-1";

TEST(Figures, StrengthTruncatesTheCurveTowardZero) {
  const std::pair<int, int> cases[] = {{0, 80},    {999, 80},  {1000, 80}, {1200, 70},
                                       {1599, 51}, {1600, 50}, {2200, 30}, {2400, 25},
                                       {2999, 11}, {3000, 11}, {4000, 1},  {4095, 0}};
  for (const auto& [agc, strength] : cases) {
    const auto high = static_cast<uint8_t>(0x80 | (agc >> 8));
    EXPECT_EQ(signal_strength(static_cast<uint8_t>(agc), high), strength) << agc;
  }
  EXPECT_EQ(signal_strength(0x60, 0x79), 25) << "0x38 bits 7..4 are not part of the level";
}

TEST(Figures, CarrierToNoiseIsNarrowedToSinglePrecision) {
  const std::tuple<uint8_t, uint8_t, const char*> cases[] = {
      {0x80, 0x01, "39.133900"},  // double: 39.133899
      {0x80, 0x08, "30.102999"},  // double: 30.103000
      {0x83, 0xE8, "9.133900"},  {0xA0, 0x00, "0.000000"}, {0xC0, 0x00, "-3.010300"},
      {0xFF, 0xFF, "-6.020467"}, {0x80, 0x00, "inf"},      {0x7F, 0xFF, "-10.000000"}};
  for (const auto& [high, low, text] : cases) {
    EXPECT_EQ(fmt("%f", carrier_to_noise_db(high, low)), text) << int(high) << " " << int(low);
  }
}

TEST(Figures, BitErrorRateAndBlockLengths) {
  const std::pair<uint8_t, uint32_t> blocks[] = {
      {0x04, 16200}, {0x06, 3240},  {0x12, 7200},  {0x13, 7200},  {0x2A, 14400},
      {0x2E, 58320}, {0x46, 58320}, {0x72, 58320}, {0x39, 48600}, {0x60, 48600},  // 9/10 short
      {0x00, 58320}, {0x74, 58320}, {0xFE, 58320}};                               // 0, 29, 63
  for (const auto& [pls, bits] : blocks) EXPECT_EQ(ldpc_block_bits(pls), bits) << int(pls);
  const std::tuple<bool, uint8_t, uint8_t, uint8_t, uint8_t, const char*> cases[] = {
      {true, 0xE8, 0x03, 0x20, 0x10, "0.000241"},   // E 1000, W 2, MODCOD 4 normal
      {true, 0xE8, 0x03, 0xAF, 0x10, "0.000241"},   // 0x83 bits 7, 3..0 play no part
      {true, 0xFF, 0xFF, 0x00, 0x06, "5.056713"},   // MODCOD 1 short, W 0
      {false, 0xF4, 0x01, 0x10, 0x00, "0.004787"},  // DVB-S, E 500, W 1
      {false, 0x2C, 0x01, 0x00, 0x01, "0.016053"},  // DirecTV, E 300, W 0
      {true, 0x00, 0x00, 0x70, 0x39, "0.000000"}};
  for (const auto& [s2, low, high, window, mode, text] : cases) {
    EXPECT_EQ(fmt("%f", bit_error_rate(s2, low, high, window, mode)), text) << text;
  }
  // W = 7: 65535 DVB-S2 frames (not 65536), 262144 DVB-S packets.
  EXPECT_DOUBLE_EQ(bit_error_rate(true, 0xFF, 0xFF, 0x70, 0x2E), 1.0 / 58320);
  EXPECT_DOUBLE_EQ(bit_error_rate(false, 0x00, 0x33, 0x70, 0x00), 8.0 / 262144);
}

TEST(Figures, LockTimeFields) {
  const std::tuple<uint8_t, uint8_t, uint8_t, int> cases[] = {
      {0x21, 0x43, 0x05, 270}, {0xFF, 0xFF, 0xFF, 1710}, {0x00, 0x00, 0x03, 480},
      {0x00, 0x00, 0x04, 10},  {0x0F, 0x00, 0x00, 150},  {0x00, 0xF0, 0x00, 150}};
  for (const auto& [b0, b1, b2, ms] : cases) EXPECT_EQ(lock_time_ms(b0, b1, b2), ms) << ms;
}

TEST(Figures, OffsetsTruncateTowardZero) {
  EXPECT_EQ(reference_khz(0x6C, 0x6B, 0x00), 27500U);
  EXPECT_EQ(reference_khz(0xFF, 0xFF, 0xFF), 16777215U);
  const std::tuple<uint32_t, uint8_t, uint8_t, int> carrier[] = {
      {96000, 0x00, 0x10, 3000},  {96000, 0x00, 0xF0, -3000},      {27500, 0xFF, 0x7F, 6874},
      {27500, 0x00, 0x80, -6875}, {27500, 0x01, 0x80, -6874},      {100000, 0xFF, 0xFF, 0},
      {0, 0x00, 0x80, 0},         {16777215, 0x00, 0x80, -4194303}};
  for (const auto& [fc, low, high, whole] : carrier) {
    EXPECT_EQ(carrier_offset(fc, low, high).whole_khz, whole) << fc << " " << whole;
  }
  const std::tuple<uint32_t, uint8_t, uint8_t, int, const char*, int> symbol[] = {
      {27500, 0x00, 0xF0, -4096, "-26.855469", -26},
      {96000, 0x00, 0x10, 4096, "93.750000", 93},
      {27500, 0xFF, 0x7F, 32767, "214.837193", 214},
      {27500, 0x00, 0x80, -32768, "-214.843750", -214},
      {27500, 0xFF, 0xFF, -1, "-0.006557", 0},
      {0, 0x00, 0x10, 4096, "0.000000", 0}};
  for (const auto& [fc, low, high, fraction, khz, whole] : symbol) {
    const Offset o = symbol_rate_offset(fc, low, high);
    EXPECT_EQ(o.fraction, fraction);
    EXPECT_EQ(fmt("%f", o.khz), khz);
    EXPECT_EQ(o.whole_khz, whole);
  }
}

using Regs = std::vector<std::pair<int, std::vector<uint8_t>>>;

// A locked board's measurement registers (lock status set per case).
const Regs kBoard = {{0x6C, {0x12, 0x34, 0x36, 0x31}},
                     {0x37, {0x60, 0x89}},
                     {0x23, {0x6C, 0x6B, 0x00, 0, 0, 0, 0x21, 0x43, 0x05}},  // fc, lock time
                     {0x7E, {0x01, 0x80}},
                     {0x83, {0x20, 0xE8, 0x03}},  // BER window, error count
                     {0x4C, {0x00, 0xF0, 0x00, 0x80}},
                     {0x5C, {0x10}},
                     {0x8E, {0x01}}};

// The registers of kBoard with `changes`, and lock status `status`.
void set_board(TestPlatform& p, uint8_t status, const Regs& changes = {}) {
  for (const Regs& regs : {kBoard, changes}) {
    for (const auto& [reg, bytes] : regs) p.set(reg, bytes);
  }
  p.set(0x2C, {status});
}

// A board set up by set_board(), the transfer `fail_at` refused (from 1; 0: none), on an open
// register-server connection.
struct OpenBoard {
  TestPlatform p;
  ServerBoardBus bus{I2cDevice{"127.0.0.1", 5000, 0, 100, 208}, p.register_server()};
  OpenBoard(uint8_t status, const Regs& changes, int fail_at = 0) {
    set_board(p, status, changes);
    EXPECT_TRUE(bus.open_connection());
    p.fail_at = fail_at;  // opening makes no register transfer
  }
  // The calls since the open, in the shorthand of expand().
  void expect_reads(const std::string& ops) { EXPECT_EQ(p.calls, expand(ops, true, false)) << ops; }
};

// What the command lines do not show: the bytes kept, the state, how far a refused read got; and
// that a measurement opens and closes nothing (the exact calls since the open).
TEST(Measurements, ReturnTheRegistersTheLockStateAndTheFigure) {
  {  // ready at the second read of 0x37..0x38, whose bytes are kept: 0x960 = 2400, -65 dBm
    OpenBoard b(0, {});
    b.p.script[{0xD0, 0x38}] = {0x09};
    const StrengthReading r = read_signal_strength(b.bus).value();
    b.expect_reads("37+2 37+2 d2");
    EXPECT_EQ(std::tuple(r.agc[1], r.strength), std::tuple(0x89, 25));
  }
  {  // an estimate not yet valid: both bytes read, no figure
    OpenBoard b(0, {{0x7F, {0x7F}}});
    const CnReading r = read_carrier_to_noise(b.bus).value();
    b.expect_reads("7F 7E");
    EXPECT_EQ(std::tuple(r.figure, r.noise_high, r.noise_low), std::tuple(false, 0x7F, 0x01));
  }
  {  // DVB-S (lock status bit 3 clear) reads its mode from 0x8E: DirecTV
    OpenBoard b(0x20, {});
    const BerReading r = read_bit_error_rate(b.bus).value();
    b.expect_reads("2C 84+2 83 8E");
    EXPECT_EQ(std::tuple(r.figure, r.mode, fmt("%f", r.rate)), std::tuple(true, 0x01, "0.003344"));
  }
  {  // no lock: the lock status alone is read
    OpenBoard b(0xDF, {});
    const LockTimeReading r = read_lock_time(b.bus).value();
    b.expect_reads("2C");
    EXPECT_EQ(std::tuple(r.figure, r.lock_status), std::tuple(false, 0xDF));
  }
  // A refused read ends the reading with its cause; the reading shows how far it got.
  for (const auto& [fail_at, ops, steps, cause] :
       {std::tuple{4, "2C 23 24 25", 1, "no connection: read 0xD0 register 0x25 on channel 0"},
        {6, "2C 23 24 25 4C 4D", 2, "no connection: read 0xD0 register 0x4D on channel 0"}}) {
    OpenBoard b(0x20, {}, fail_at);
    int seen = 0;
    const Result<OffsetReading> r =
        read_symbol_rate_offset(b.bus, [&seen](const OffsetReading&) { ++seen; });
    b.expect_reads(ops);
    EXPECT_EQ(std::tuple(r.error().text(), seen), std::tuple(cause, steps));
  }
}

// command, lock status 0x2C, changes over kBoard, the refused transfer (from 1; 0: none), calls,
// line. A locked run of each command on the simulated board: tests/golden.
const std::tuple<const char*, uint8_t, Regs, int, std::string, std::string> kCases[] = {
    {"sig_str", 0, {{0x6C, {0, 0, 0x36, 0x30}}}, 0, "6C+4", "error=ok,return=0"},
    {"sig_str", 0, {{0x38, {0x09}}}, 4, "6C+4 37+2 37+2 d2 37+2", kFail},
    {"cn_read", 0, {{0x6C, {0, 0, 0, 0}}}, 0, "6C+4", "error=ok,return=-10.000000"},
    {"cn_read", 0, {}, 3, "6C+4 7F 7E", kFail},
    {"ber_calc", 0xDF, {}, 0, "2C", "error=ok,return=0.500000"},
    {"ber_calc", 0x28, {}, 3, "2C 84+2 83", kFail},
    {"lock_time", 0x08, {}, 0, "2C", "error=ok,return=0"},
    {"carrier_err", 0x1F, {}, 0, "2C", "error=ok,return=0"},
    {"carrier_err", 0x20, {}, 1, "2C", kFail},
    {"symbol_err", 0x20, {}, 0, "2C 23 24 25 4C 4D", "error=ok,return=-26"},
    {"symbol_err", 0x00, {}, 0, "2C", "error=ok,return=0.000000"},
    {"symbol_err", 0x20, {}, 6, "2C 23 24 25 4C 4D", kFail},
};

// symbol_err appends to the debug log: each locked run a block, a refused read what came before
// it (left open until the log is closed, as at the end of a process). A log that cannot be
// opened changes nothing else.
TEST(Measurements, ReadsLinesFailuresAndTheDebugLogOnBothTransports) {
  in_temp_dir([](const std::string& dir) {
    write_file(dir, kDebugLogName, "earlier\n");
    for (const auto& [cmd, status, changes, fail_at, ops, out] : kCases) {
      for (const bool socket : {true, false}) {
        TestPlatform p;
        set_board(p, status, changes);
        p.fail_at = fail_at;
        expect_run(p, socket, {cmd}, ops, out);
      }
    }
    const std::string banner = std::string(28, '-') + "symbol_err begining!" + std::string(43, '-');
    const std::string cut = banner + "\nfc=27500\n";
    const std::string block = cut + "fs_oofset=61440,fs_offset_fc=-4096\nfs_err_kHz=-26.855469\n";
    EXPECT_EQ(read_file(dir + "/" + kDebugLogName), "earlier\n" + block + block + cut + cut);
    std::remove((dir + "/" + kDebugLogName).c_str());
    ASSERT_EQ(mkdir((dir + "/" + kDebugLogName).c_str(), 0755), 0);
    TestPlatform p;
    set_board(p, 0x20);
    expect_run(p, false, {"symbol_err"}, "2C 23 24 25 4C 4D", "error=ok,return=-26");
  });
}

}  // namespace
}  // namespace demodctl::testing
