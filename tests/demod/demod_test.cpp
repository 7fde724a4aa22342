// The probes, chip_init, hot_rst and dvb_standard through the front end over the recording
// doubles of both transports.
#include <gtest/gtest.h>

#include <tuple>

#include "demod/mode_report.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

const std::vector<uint8_t> kPresent = {0x12, 0x34, 0x36, 0x31};
const std::string kFail = "error=err no connection,failed,return=-1";
const std::string kAbsent = "error=chip not connected, failed,return=1";

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
      {"on_line", true, {0x10, 0x01, 0x36, 0x31}, 0, "6C+4", "error=ok,return=1"},
      {"on_line", false, {0x36, 0x31, 0x00, 0x00}, 0, "6C+4", "error=ok,,return=0"},
      {"on_line", true, {0x00, 0x00, 0x36, 0x30}, 0, "6C+4", "error=ok,,return=0"},
      {"hot_rst", false, {0, 0, 0x36, 0x30}, 0, "6C+4", kAbsent},
      {"fec_ok", false, kPresent, -1, "", "error=err openerror,failed,return=-1"},
      {"on_line", true, kPresent, 1, "6C+4", kFail},
      {"fec_ok", false, kPresent, 1, "2C", kFail},
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

// The bridge's identity read refused: a chip that does not acknowledge is absent, not a failure;
// a bridge that fails the transfer (unplugged) is a failure.
TEST(Commands, BridgeIdentityReadNackIsAbsentFailureFails) {
  const std::tuple<const char*, FaultKind, std::string> cases[] = {
      {"on_line", FaultKind::nack, "error=ok,,return=0"},
      {"chip_init", FaultKind::nack, kAbsent},
      {"on_line", FaultKind::bus_failure, kFail},
  };
  for (const auto& [cmd, refusal, out] : cases) {
    TestPlatform p;
    p.set(0x6C, kPresent);
    p.fail_at = 1;
    p.stream_refusal = refusal;
    expect_run(p, false, {cmd}, "6C+4", out);
  }
}

// The reports of the three shipped locked signals, and their reads: tests/golden.
TEST(DvbStandard, ReportsAndOnlyTheReadsThePathNeeds) {
  const std::pair<std::array<int, 5>, const char*> cases[] = {
      // 0x2C, 0x97, 0x5C, 0x9D, 0x8E (-1: must not be read), the report
      {{0x28, 0x7F, -1, -1, -1}, "S2,VCM"},
      {{0x08, -1, -1, -1, -1}, "unkown standard!"},
      {{0xDF, -1, -1, -1, -1}, "unkown standard!"},
      {{0x3F, 0x80, 0x00, 0x40, -1}, "DVB-S2,Dummy,Normal Frame,PLT OFF,Roll_off=0.25"},
      {{0x3F, 0xFF, 0x03, 0x80, -1}, "DVB-S2,Dummy,Short Frame,PLT ON,Roll_off=0.2"},
      {{0x28, 0x80, 0x74, 0x3F, -1}, "DVB-S2,Reserved,Normal Frame,PLT OFF,Roll_off=0.35"},
      // the longest report, 57 characters
      {{0x28, 0x80, 0x70, 0xC0, -1}, "DVB-S2,32APSK+9/10,Normal Frame,PLT OFF,Reserved roll_off"},
      {{0x28, 0x80, 0x06, 0x00, -1}, "DVB-S2,QPSK+1/4,Short Frame,PLT OFF,Roll_off=0.35"},
      {{0x20, -1, -1, -1, 0x05}, "Directv,NA,Roll_off=0.2"},
      {{0x20, -1, -1, -1, 0x0A}, "DVB-S,NA,Roll_off=0.35"},
      {{0x20, -1, -1, -1, 0xF1}, "Directv,1/2,Roll_off=0.2"},
      {{0x37, -1, -1, -1, 0x08}, "DVB-S,7/8,Roll_off=0.35"},
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

// The fields by name, as the monitor shows them: never the report's own words ("unkown", "NA",
// "Reserved"), nothing where the chip gives nothing.
TEST(ModeFields, NamesWhatTheChipGives) {
  using S = Standard;
  struct Case {
    ModeReport mode;
    std::string standard, modulation, rate;
    std::optional<double> roll_off;
  };
  const Case cases[] = {
      {{}, "", "", "", std::nullopt},
      {{.standard = S::dvbs2, .vcm = true}, "DVB-S2", "", "", std::nullopt},
      {{.standard = S::dvbs2, .modcod = 14, .rolloff_code = 2}, "DVB-S2", "8PSK", "3/4", 0.2},
      {{.standard = S::dvbs2, .modcod = 28, .rolloff_code = 3}, "DVB-S2", "32APSK", "9/10", {}},
      {{.standard = S::dvbs2, .modcod = 0}, "DVB-S2", "", "", 0.35},
      {{.standard = S::dvbs2, .modcod = 29, .rolloff_code = 1}, "DVB-S2", "", "", 0.25},
      {{.standard = S::dvbs, .rate_code = 4}, "DVB-S", "", "7/8", 0.35},
      {{.standard = S::dvbs, .rate_code = 5}, "DVB-S", "", "", 0.35},
      {{.standard = S::directv, .rate_code = 5}, "DirecTV", "", "6/7", 0.2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(standard_name(c.mode.standard), c.standard);
    EXPECT_EQ(modulation_name(c.mode), c.modulation);
    EXPECT_EQ(code_rate_name(c.mode), c.rate);
    EXPECT_EQ(roll_off(c.mode), c.roll_off) << mode_text(c.mode);
  }
}

}  // namespace
}  // namespace demodctl::testing
