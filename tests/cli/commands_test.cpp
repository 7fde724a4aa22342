// The front end (numbers, dispatch), then every command through it over the recording doubles of
// both transports, each family with the arithmetic it prints: the probes, chip_init, hot_rst and
// dvb_standard; the measurements (exact reads and waits, no-lock paths, the AGC poll's order and
// bound, the debug log); the capture (sample decoding, the exact sequence, the sample file and
// the listing, every way it can fail without losing an earlier sample file); tuner_set.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "bus/poll.h"
#include "capture/samples.h"
#include "cli/debug_log.h"
#include "cli/numbers.h"
#include "measure/figures.h"
#include "support/process.h"
#include "support/recording_backends.h"
#include "tuner/rda5815.h"
#include "tuner/tuner0.h"

namespace demodctl::testing {
namespace {

const std::vector<uint8_t> kPresent = {0x12, 0x34, 0x36, 0x31};
const std::string kFail = "error=err no connection,failed,return=-1";
const std::string kAbsent = "error=chip not connected, failed,return=1";
const std::string kInit = "6C+4 0C=52 00=81 00=01 05=81 05=01 04=04 09=0E 0C=42 0A=5A 0A=4A A8=80";

TEST(Numbers, LeadingDecimalSaturated) {
  for (const std::string& c : split("208=208; 0xD0=0; abc=0; =0; -1=-1; +5=5;  7=7; 12abc=12; -=0; "
                                    "464=464; 2147483647=2147483647; 99999999999=2147483647; "
                                    "-99999999999=-2147483648")) {  // text=value
    const size_t eq = c.rfind('=');
    EXPECT_EQ(to_int(c.substr(0, eq).c_str()), std::stoll(c.substr(eq + 1))) << '"' << c << '"';
  }
}

TEST(FrontEnd, PrintConnReportsTransport) {
  const std::pair<const char*, const char*> cases[] = {{"1", "error=ok,return=1"},
                                                       {"0", "error=ok,,return=0"},
                                                       {"7", "error=ok,return=1"},
                                                       {"-1", "error=ok,return=1"}};
  for (const auto& [flag, out] : cases) {
    TestPlatform p;
    const RunResult r = run_cli(p, {"print_conn", flag});
    EXPECT_EQ(r.out, out) << flag;
    EXPECT_EQ(r.status, 0);
  }
}

// An unknown name gives the byte difference from the last table name, never 0 modulo 256; a short
// command line gives 2. Neither prints anything or reaches the bus.
TEST(FrontEnd, UnknownNamesAndShortLines) {
  TestPlatform p;
  const std::pair<std::vector<std::string>, int32_t> cases[] = {
      {{"h", "1", "0", "100", "208", "On_line", "1"}, 't' - 'O'},
      {{"h", "1", "0", "100", "208", "on_line ", "1"}, 't' - 'o'},
      {{"abc", "0"}, 't' - 'a'},
      {{"tuner_set" + std::string(256, 'x'), "1"}, -'x'},
      {{"tuner_se", "1"}, 't'},
      {{"\xff", "1"}, 't' - 0xFF},  // bytes compare unsigned
      {{}, 2},
      {{"on_line"}, 2},
      {{"on_line", "1"}, 2},
      {{"h", "p", "on_line", "1"}, 2},
  };
  for (const auto& [args, status] : cases) {
    const RunResult r = run_cli(p, args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, status) << args.size();
  }
  EXPECT_TRUE(p.calls.empty());
}

TEST(FrontEnd, HelpAndVersionGoToStdout) {
  for (const char* flag : {"--help", "--version"}) {
    TestPlatform p;
    const RunResult r = run_cli(p, {flag});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("demodctl"), std::string::npos);
  }
}

TEST(Probes, EachReadsItsBitOfTheLockStatus) {
  const char* names[] = {"agc_ok", "cbs_ok", "tr_ok", "sync_ok", "cr_ok", "fec_ok"};
  for (const int status : {0x15, 0x2A}) {
    for (int bit = 0; bit < 6; ++bit) {
      TestPlatform p;
      p.set(0x2C, {static_cast<uint8_t>(status)});
      expect_run(p, true, {names[bit]}, "2C",
                 (status >> bit) & 1 ? "error=ok,return=1" : "error=ok,return=0");
    }
  }
}

// The identity (present when bytes 2 and 3 are 36 31), the sequences and every transport failure:
// one failure line, -1, nothing sent after it, no close (a refusal in the middle of chip_init on
// both transports: the black-box tests).
TEST(Commands, IdentitySequencesAndFailures) {
  using Id = std::vector<uint8_t>;
  const std::tuple<const char*, bool, Id, int, std::string, std::string> cases[] = {
      // command, on the server, identity, the refused transfer (from 1; -1: the bridge cannot be
      // opened), calls, line
      {"on_line", false, kPresent, 0, "6C+4", "error=ok,return=1"},
      {"on_line", true, {0x10, 0x01, 0x36, 0x31}, 0, "6C+4", "error=ok,return=1"},
      {"on_line", false, {0x36, 0x31, 0x00, 0x00}, 0, "6C+4", "error=ok,,return=0"},
      {"on_line", true, {0x00, 0x00, 0x36, 0x30}, 0, "6C+4", "error=ok,,return=0"},
      {"chip_init", false, kPresent, 0, kInit, "error=ok,return=1"},
      {"hot_rst", true, kPresent, 0, "6C+4 2E=01 2E=03", "error=ok,return=1"},
      {"hot_rst", false, {0, 0, 0x36, 0x30}, 0, "6C+4", kAbsent},
      {"fec_ok", false, kPresent, -1, "", "error=err openerror,failed,return=-1"},
      {"on_line", true, kPresent, 1, "6C+4", kFail},
      {"fec_ok", false, kPresent, 1, "2C", kFail},
      // The bridge's identity read refused: the chip is absent, not a failure.
      {"on_line", false, kPresent, 1, "6C+4", "error=ok,,return=0"},
      {"chip_init", false, kPresent, 1, "6C+4", kAbsent},
      {"hot_rst", true, kPresent, 1, "6C+4", kFail},
      {"hot_rst", true, kPresent, 2, "6C+4 2E=01", kFail},
      {"dvb_standard", false, kPresent, 2, "2C 97", kFail},
  };
  for (const auto& [cmd, socket, id, fail_at, ops, out] : cases) {
    TestPlatform p;
    p.set(0x6C, id);
    p.set(0x2C, {0x28});
    p.open_fails = fail_at < 0;
    p.fail_at = std::max(fail_at, 0);
    expect_run(p, socket, {cmd}, ops, out);
  }
}

TEST(DvbStandard, ReportsAndOnlyTheReadsThePathNeeds) {
  const std::pair<std::array<int, 5>, const char*> cases[] = {
      // 0x2C, 0x97, 0x5C, 0x9D, 0x8E (-1: must not be read), the report
      {{0x28, 0x80, 0x39, 0x00, -1}, "DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35"},
      {{0x28, 0x7F, -1, -1, -1}, "S2,VCM"},
      {{0x20, -1, -1, -1, 0x0B}, "Directv,6/7,Roll_off=0.2"},
      {{0x20, -1, -1, -1, 0x04}, "DVB-S,3/4,Roll_off=0.35"},
      {{0x08, -1, -1, -1, -1}, "unkown standard!"},
      {{0xDF, -1, -1, -1, -1}, "unkown standard!"},
      {{0x3F, 0x80, 0x00, 0x40, -1}, "DVB-S2,Dummy,Normal Frame,PLT OFF,Roll_off=0.25"},
      {{0x3F, 0xFF, 0x03, 0x80, -1}, "DVB-S2,Dummy,Short Frame,PLT ON,Roll_off=0.2"},
      {{0x28, 0x80, 0x74, 0x3F, -1}, "DVB-S2,Reserved,Normal Frame,PLT OFF,Roll_off=0.35"},
      // the longest report, 57 characters
      {{0x28, 0x80, 0x70, 0xC0, -1}, "DVB-S2,32APSK+9/10,Normal Frame,PLT OFF,Reserved roll_off"},
      {{0x28, 0x80, 0x5C, 0xC0, -1}, "DVB-S2,16APSK+9/10,Normal Frame,PLT OFF,Reserved roll_off"},
      {{0x28, 0x80, 0x06, 0x00, -1}, "DVB-S2,QPSK+1/4,Short Frame,PLT OFF,Roll_off=0.35"},
      {{0x20, -1, -1, -1, 0x05}, "Directv,NA,Roll_off=0.2"},
      {{0x20, -1, -1, -1, 0x0A}, "DVB-S,NA,Roll_off=0.35"},
      {{0x20, -1, -1, -1, 0xF1}, "Directv,1/2,Roll_off=0.2"},
      {{0x37, -1, -1, -1, 0x08}, "DVB-S,7/8,Roll_off=0.35"},
      {{0x20, -1, -1, -1, 0x03}, "Directv,2/3,Roll_off=0.2"},
  };
  const int regs[] = {0x2C, 0x97, 0x5C, 0x9D, 0x8E};
  for (const auto& [values, text] : cases) {
    TestPlatform p;
    std::string reads;
    for (int i = 0; i < 5; ++i) {
      if (values[i] >= 0) p.set(regs[i], {static_cast<uint8_t>(values[i])});
      if (values[i] >= 0) reads += fmt(" %02X", regs[i]);
    }
    expect_run(p, true, {"dvb_standard"}, reads, std::string("error=ok,return=") + text);
  }
}

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

// The flag of 0x38 never rises: 1500 more reads, each followed by its 2 ms wait, then the bound.
std::string never_ready() {
  std::string ops = "6C+4 37+2";
  for (int i = 0; i < kPollBoundMs / 2; ++i) ops += " 37+2 d2";
  return ops;
}

// command, lock status 0x2C, changes over kBoard, the refused transfer (from 1; 0: none), calls,
// line
const std::tuple<const char*, uint8_t, Regs, int, std::string, std::string> kCases[] = {
    {"sig_str", 0, {}, 0, "6C+4 37+2", "error=ok,return=25"},
    {"sig_str", 0, {{0x6C, {0, 0, 0x36, 0x30}}}, 0, "6C+4", "error=ok,return=0"},
    {"sig_str", 0, {{0x38, {0x09}}}, 0, never_ready(), "error=err timeout,failed,return=-1"},
    {"sig_str", 0, {{0x38, {0x09}}}, 4, "6C+4 37+2 37+2 d2 37+2", kFail},
    {"cn_read", 0, {}, 0, "6C+4 7F 7E", "error=ok,return=39.133900"},
    {"cn_read", 0, {{0x7F, {0x7F}}}, 0, "6C+4 7F 7E", "error=ok,return=-10.000000"},
    {"cn_read", 0, {{0x6C, {0, 0, 0, 0}}}, 0, "6C+4", "error=ok,return=-10.000000"},
    {"cn_read", 0, {}, 3, "6C+4 7F 7E", kFail},
    {"ber_calc", 0x28, {}, 0, "2C 84+2 83 5C", "error=ok,return=0.000241"},
    {"ber_calc", 0x20, {}, 0, "2C 84+2 83 8E", "error=ok,return=0.003344"},
    {"ber_calc", 0xDF, {}, 0, "2C", "error=ok,return=0.500000"},
    {"ber_calc", 0x28, {}, 3, "2C 84+2 83", kFail},
    {"lock_time", 0x20, {}, 0, "2C 29 2A 2B", "error=ok,return=270"},
    {"lock_time", 0x08, {}, 0, "2C", "error=ok,return=0"},
    {"carrier_err", 0x20, {}, 0, "2C 23 24 25 4E 4F", "error=ok,return=-6875"},
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
        for (const Regs& regs : {kBoard, changes}) {
          for (const auto& [reg, bytes] : regs) p.set(reg, bytes);
        }
        p.set(0x2C, {status});
        p.fail_at = fail_at;
        expect_run(p, socket, {cmd}, ops, out);
      }
    }
    debug_log_close();
    const std::string banner = std::string(28, '-') + "symbol_err begining!" + std::string(43, '-');
    const std::string cut = banner + "\nfc=27500\n";
    const std::string block = cut + "fs_oofset=61440,fs_offset_fc=-4096\nfs_err_kHz=-26.855469\n";
    EXPECT_EQ(read_file(dir + "/" + kDebugLogName), "earlier\n" + block + block + cut + cut);
    std::remove((dir + "/" + kDebugLogName).c_str());
    ASSERT_EQ(mkdir((dir + "/" + kDebugLogName).c_str(), 0755), 0);
    TestPlatform p;
    for (const auto& [reg, bytes] : kBoard) p.set(reg, bytes);
    p.set(0x2C, {0x20});
    expect_run(p, false, {"symbol_err"}, "2C 23 24 25 4C 4D", "error=ok,return=-26");
  });
}

TEST(Samples, WordsDecodeToPairs) {
  using Word = std::array<uint8_t, 4>;
  const std::tuple<Word, SampleFormat, SamplePair> cases[] = {
      {{0x00, 0x00, 0x00, 0x00}, SampleFormat::nine_bit, {-256, -256}},
      {{0xFF, 0xFF, 0x03, 0x00}, SampleFormat::nine_bit, {255, 255}},
      {{0x00, 0x01, 0x00, 0x00}, SampleFormat::nine_bit, {0, -256}},
      {{0xFF, 0xFF, 0xFF, 0x00}, SampleFormat::eight_bit, {-1, -1}},
      {{0x00, 0x08, 0xF8, 0x00}, SampleFormat::eight_bit, {-128, -128}},
  };
  for (const auto& [word, format, pair] : cases) EXPECT_EQ(decode_word(word, format), pair);
  // More words in the capture tests: (-121, -1) and (120, 0) in the 8-bit format (b0 bits 3..0
  // and b3 unused), (-204, 137) and (0, 1) in the 9-bit format (b2 bits 7..2 and b3 unused).
}

// The capture after the identity read: the window, the format, the table, the ready poll (ready
// at the second read), clear and start, the completion poll (complete at the second read), stop,
// fetch.
std::string capture_ops(const char* format) {
  std::string ops = "E0=0000010000 E5=000001 EB=0000 E8=0008 2F=" + std::string(format);
  for (const char digit : std::string("0123456789ABCDEF")) {
    ops += std::string(" F") + digit + "=0" + digit;
  }
  return ops + " 37+2 d5 37+2 EA=00 d5 EA=20 d5 EA d5 EA ED=0000 EF*8192";
}

void script_waits(TestPlatform& p) {
  p.script[{0xD0, 0x37}] = {0xFF, 0xFF};  // the first byte never counts
  p.script[{0xD0, 0x38}] = {0x7F, 0x80};
  p.script[{0xD0, 0xEA}] = {0x3F, 0x80};
}

TEST(Capture, AdSmpOnTheServerAndFftPrintOnTheBridge) {
  in_temp_dir([](const std::string& dir) {
    TestPlatform p;
    p.set(0x6C, {0x00, 0x00, 0x36, 0x31});
    script_waits(p);
    // Two words: (-121, -1) and (120, 0) in the 8-bit format, then zeros.
    p.script[{0xD0, 0xEF}] = {0xF0, 0x7F, 0x08, 0x00, 0x0F, 0x80, 0x07, 0xFF};
    expect_run(p, true, {"1", "ad_smp"}, "6C+4 " + capture_ops("7C"), "error=ok,return=0");
    std::string lines = "Column:2\n-121,-1\n120,0\n";
    for (int n = 2; n < 2048; ++n) lines += "0,0\n";
    EXPECT_EQ(read_file(dir + "/qv_ad_smp"), lines);

    // fft_print: 9-bit format, no identity read; the file is completed before the items are
    // printed, and holds the same pairs.
    TestPlatform q;
    script_waits(q);
    q.script[{0xD0, 0xEF}] = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x03, 0x02, 0x00};
    std::string items = "error=ok,return={-204,137}#{0,1}#";
    lines = "Column:2\n-204,137\n0,1\n";
    for (int n = 2; n < 2048; ++n) {
      items += "{-256,-256}#";
      lines += "-256,-256\n";
    }
    expect_run(q, false, {"fft_print"}, capture_ops("30"), items);
    EXPECT_EQ(read_file(dir + "/qv_ad_smp"), lines);
    EXPECT_EQ(run_process({"/bin/ls", "-A", dir}).out, "qv_ad_smp\n");
  });
}

// Every failure leaves the older sample file as it was and no temporary file behind.
TEST(Capture, FailuresKeepTheOlderFile) {
  const std::string kFile = "error=err file,failed,return=-1";
  const std::tuple<std::vector<std::string>, int, bool, char, std::string> cases[] = {
      // command, the register whose transfers fail, the ready flag rises, the directory before
      // ('f': an older file, 'd': a directory in its place, 'r': removed), the line
      {{"0", "ad_smp"}, 0x6C, true, 'f', kAbsent},
      {{"0", "ad_smp"}, 0xEF, true, 'f', "error=err no connection,failed,return=-1"},
      {{"fft_print"}, -1, false, 'f', "error=err timeout,failed,return=-1"},
      {{"fft_print"}, -1, true, 'd', kFile},
      {{"0", "ad_smp"}, -1, true, 'r', kFile},
  };
  for (const auto& [args, fail_reg, flag_rises, setup, out] : cases) {
    TestPlatform p;
    p.set(0x6C, {0, 0, 0x36, 0x31});
    p.fail_reg = fail_reg;
    if (flag_rises) script_waits(p);
    in_temp_dir([&](const std::string& dir) {
      if (setup == 'f') write_file(dir, "qv_ad_smp", "older\n");
      if (setup == 'd') mkdir("qv_ad_smp", 0755);
      if (setup == 'r') rmdir(dir.c_str());  // nothing can be created in a removed directory
      const RunResult r = run_cli(p, command_line(false, args));
      EXPECT_EQ(r.out, out) << args.back() << " " << setup;
      EXPECT_EQ(r.status, out == kAbsent ? 0 : -1);
      EXPECT_EQ(read_file(dir + "/qv_ad_smp"), setup == 'f' ? "older\n" : "");
      EXPECT_EQ(run_process({"/bin/ls", "-A", dir}).out, setup == 'r' ? "" : "qv_ad_smp\n");
    });
  }
}

TEST(Rda5815, FrequencyWordAndFilterByte) {
  const std::pair<int32_t, uint32_t> words[] = {
      {950, 0x04F2A96E},   {1550, 0x0812A8A6}, {2150, 0x0B32A7DE}, {0, 0},
      {49153, 0x00011555},  // the product overflows 32 bits: its low 32 bits
      {-1, 0xFFFEAAAB}};
  for (const auto& [freq, word] : words) EXPECT_EQ(rda5815_freq_word(freq), word) << freq;
  const std::pair<int32_t, uint8_t> filters[] = {
      {0, 0x46},  {3, 0x46},  {4, 0x46},  {20, 0x51}, {30, 0x58},       {40, 0x5F},
      {41, 0x5F}, {45, 0x62}, {46, 0x5F}, {-1, 0x5F}, {INT32_MIN, 0x46}};
  for (const auto& [bw, byte] : filters) EXPECT_EQ(rda5815_filter_byte(bw), byte) << bw;
}

TEST(Tuner0, SynthesizerAndFilterBytes) {
  using Synth = std::array<uint8_t, 4>;
  const std::pair<int32_t, Synth> synths[] = {
      {950, {0x23, 0x2F, 0x68, 0xD0}},  {1350, {0x32, 0x00, 0x00, 0xD0}},
      {1500, {0x38, 0x8E, 0x39, 0xD0}},  // rounded up: floor(ratio) is 55
      {1550, {0x39, 0x68, 0x4B, 0x50}}, {2150, {0x50, 0xA1, 0x2F, 0x50}},
      {906, {0x22, 0x8E, 0x39, 0xD0}},  // a double ratio would give 22 8E 38 50
  };
  for (const auto& [freq, bytes] : synths) EXPECT_EQ(tuner0_synth_bytes(freq), bytes) << freq;
  const std::pair<int32_t, uint8_t> filters[] = {{2, 0x0C},  {10, 0x3C}, {15, 0x5A},
                                                 {22, 0x84}, {0, 0x00},  {42, 0xFC},
                                                 {43, 0x02}, {-1, 0xFA}, {INT32_MAX, 0xB8}};
  for (const auto& [half_bw, byte] : filters) EXPECT_EQ(tuner0_filter_byte(half_bw), byte);
}

// Runs tuner_set in a fresh directory holding an older debug log; gives the result and the log.
std::pair<RunResult, std::string> tuner_set(TestPlatform& p, std::vector<std::string> args) {
  std::pair<RunResult, std::string> r;
  in_temp_dir([&](const std::string& dir) {
    write_file(dir, "qv_debug_file", "an older log\n");
    r = {run_cli(p, std::move(args)), read_file(dir + "/qv_debug_file")};
  });
  return r;
}

const std::string kBegin =
    std::string(28, '-') + "tuner_set begining!" + std::string(43, '-') + "\n";
const std::string kEnd = std::string(28, '-') + "tuner_set ends!" + std::string(43, '-') + "\n";

// Type 0 on the bridge with a directly wired tuner (identity 10 01 36 31), whole.
TEST(TunerSet, Type0DirectOnTheBridgeWhole) {
  TestPlatform p;
  p.set(0x6C, {0x10, 0x01, 0x36, 0x31});
  p.set(0x33, {0xF0});
  const auto [r, log] =
      tuner_set(p, {"100", "208", "9", "192", "0", "1550", "31", "tuner_set", "0"});
  EXPECT_EQ(r.out, "error=ok,return=0");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(log, kBegin + "tuner_type=0,freq=1550,bw=31\n" + kEnd);
  // 0x33 gets bit 1 set, the other bits as read; the filter byte is for 31 / 2 = 15.
  EXPECT_EQ(p.calls,
            split("OpenDevice(0); SetStream(0,100); StreamI2C(0,[D0 6C],4); "
                  "StreamI2C(0,[C0 00 38 00 00 50 1F B4 FD 58 3F 82 88 B4],0); delay(10); "
                  "StreamI2C(0,[C0 0D 40 94 4A],0); "
                  "StreamI2C(0,[C0 10 66 40 80 2B 6A 50 91 27 8F CC 21 10 80 02 F5 7F],0); "
                  "StreamI2C(0,[C0 20 4A 9B E0 E0],0); delay(20); "
                  "StreamI2C(0,[C0 24 36 00 AB 97 C5 A8],0); delay(20); StreamI2C(0,[C0 0C D6],0); "
                  "StreamI2C(0,[D0 33],1); StreamI2C(0,[D0 33 F2],0); "
                  "StreamI2C(0,[C0 24 36 00 AB 97 C5 A8],0); delay(20); StreamI2C(0,[C0 0C D6],0); "
                  "delay(10); StreamI2C(0,[C0 00 39 68 4B 50],0); delay(10); "
                  "StreamI2C(0,[C0 05 5A],0); delay(10); StreamI2C(0,[C0 25 06],0); delay(10); "
                  "StreamI2C(0,[C0 0C D6],0); CloseDevice(0)"));
}

// RDA5815 through the repeater on the register server: every tuner byte is its own write to the
// tuner's address on the demodulator's channel, after a repeater opening, followed by 2 ms.
TEST(TunerSet, Rda5815ThroughTheRepeaterOnTheServer) {
  TestPlatform p;
  p.set(0x6C, {0x00, 0x00, 0x36, 0x31});
  const auto [r, log] = tuner_set(
      p, {"127.0.0.1", "5000", "0", "100", "208", "3", "192", "1", "950", "40", "tuner_set", "1"});
  EXPECT_EQ(r.out, "error=ok,return=0");
  EXPECT_EQ(log,
            kBegin + "tuner_type=1,freq=950,bw=40\nrda5815_init ends\nrda5815_set ends\n" + kEnd);
  const Calls head = split(
      "InitSock(127.0.0.1,5000); seti2cspeed(0,100); seti2cspeed(3,100); "
      "ReadregMulti(0,208,0x6C,1,4); delay(1); WriteregMulti(0,208,0x2D,1,[01]); "
      "WriteregMulti(0,192,0x04,1,[04]); delay(2)");
  // The setting's last seven bytes (0x07..0x0B, 0x04, 0x2B), then 5 ms and the close.
  Calls tail;
  for (const char* row : {"07,1,[04]", "08,1,[F2]", "09,1,[A9]", "0A,1,[6E]", "0B,1,[5F]",
                          "04,1,[C3]", "2B,1,[97]"}) {
    tail.insert(tail.end(), {"WriteregMulti(0,208,0x2D,1,[01])",
                             "WriteregMulti(0,192,0x" + std::string(row) + ")", "delay(2)"});
  }
  tail.insert(tail.end(), {"delay(5)", "DeinitSock()"});
  // 167 start-up bytes and 9 setting bytes, each three calls; then 0x33, the waits, open, close.
  ASSERT_EQ(p.calls.size(), 4 + (167 + 9) * 3 + 2 + 3 + 1);
  EXPECT_EQ(Calls(p.calls.begin(), p.calls.begin() + 8), head);
  EXPECT_EQ(Calls(p.calls.end() - static_cast<long>(tail.size()), p.calls.end()), tail);
}

// The ends of a run: chip absent, no driver, a refused transfer in each driver. The log keeps what
// was written before; nothing is sent after a refusal.
TEST(TunerSet, AbsentChipOtherTypesAndRefusals) {
  const std::tuple<std::string, uint8_t, int, std::string, std::string, size_t> cases[] = {
      // tuner type, identity byte 3, the refused transfer, the line, the log after line 2, calls
      {"1", 0x30, 0, "error=chip not connected, failed,return=1", "", 4},
      {"2", 0x31, 0, "error=ok,return=0", kEnd, 4},
      // transfers: 1 identity, 2..223 the start-up rows (repeater opening, row), 224/225 0x33
      {"1", 0x31, 50, kFail, "", 2 + 50 + 1},
      {"1", 0x31, 225, kFail, "rda5815_init ends\n", 2 + 225 + 2},  // with delay(1), delay(10)
      {"0", 0x31, 4, kFail, "", 2 + 4 + 1},
  };
  for (const auto& [type, id3, fail_at, out, log_tail, calls] : cases) {
    TestPlatform p;
    p.set(0x6C, {0, 0, 0x36, id3});
    p.fail_at = fail_at;
    const auto [r, log] =
        tuner_set(p, {"100", "208", "0", "192", type, "1550", "30", "tuner_set", "0"});
    EXPECT_EQ(r.out, out) << type << "/" << fail_at;
    EXPECT_EQ(r.status, fail_at != 0 ? -1 : 0);
    EXPECT_EQ(log, kBegin + "tuner_type=" + type + ",freq=1550,bw=30\n" + log_tail);
    EXPECT_EQ(p.calls.size(), calls) << type << "/" << fail_at;
  }
}

}  // namespace
}  // namespace demodctl::testing
