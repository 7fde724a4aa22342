// Probes, chip_init, hot_rst and dvb_standard through the front end, over the recording doubles of
// both transports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

using Args = std::vector<std::string>;

Args sock(const char* cmd) { return {"127.0.0.1", "5000", "0", "100", "208", cmd, "1"}; }
Args usb(const char* cmd) { return {"100", "208", cmd, "0"}; }

const Calls kSockOpen = {"InitSock(127.0.0.1,5000)", "seti2cspeed(0,100)"};
const Calls kUsbOpen = {"OpenDevice(0)", "SetStream(0,100)"};
const std::vector<uint8_t> kPresent = {0x12, 0x34, 0x36, 0x31};
const std::vector<uint8_t> kAbsent = {0x00, 0x00, 0x36, 0x30};
const std::string kFailLine = "error=err no connection,failed,return=-1";

Calls framed(const Calls& open, const Calls& middle, const char* close) {
  Calls all = open;
  all.insert(all.end(), middle.begin(), middle.end());
  if (close != nullptr) all.push_back(close);
  return all;
}

TEST(Probes, LockBitsTable) {
  const char* names[] = {"agc_ok", "cbs_ok", "tr_ok", "sync_ok", "cr_ok", "fec_ok"};
  for (int status : {0x3F, 0x20, 0xC0, 0x15}) {
    for (int bit = 0; bit < 6; ++bit) {
      TestPlatform p;
      p.memory.set(208, 0x2C, {static_cast<uint8_t>(status)});
      const RunResult r = run_cli(p, sock(names[bit]));
      EXPECT_EQ(r.out, (status >> bit) & 1 ? "error=ok,return=1" : "error=ok,return=0");
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(p.calls, framed(kSockOpen, {"ReadregMulti(0,208,0x2C,1,1)"}, "DeinitSock()"));
    }
  }
}

TEST(Probes, OnLineIdentityRule) {
  for (const auto& [id, out] :
       {std::pair{kPresent, "error=ok,return=1"}, std::pair{kAbsent, "error=ok,,return=0"}}) {
    TestPlatform p;
    p.memory.set(0xD0, 0x6C, id);
    const RunResult r = run_cli(p, usb("on_line"));
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(p.calls, framed(kUsbOpen, {"StreamI2C(0,[D0 6C],4)"}, "CloseDevice(0)"));
  }
}

// Every command's transport failures: the bridge cannot be opened, or a transfer is refused. One
// failure line, -1, nothing sent after it, no close.
struct FailureCase {
  Args args;
  int fail_at;
  std::string out;
  Calls calls;
};

TEST(Commands, TransportFailuresEndTheRun) {
  const Calls identity_usb = {"StreamI2C(0,[D0 6C],4)"};
  const FailureCase cases[] = {
      {usb("fec_ok"), -1, "error=err openerror,failed,return=-1", {"OpenDevice(0)"}},
      {sock("on_line"), 1, kFailLine, framed(kSockOpen, {"ReadregMulti(0,208,0x6C,1,4)"}, nullptr)},
      {usb("fec_ok"), 1, kFailLine, framed(kUsbOpen, {"StreamI2C(0,[D0 2C],1)"}, nullptr)},
      // The bridge's identity read refused: the chip is absent, not a failure.
      {usb("on_line"), 1, "error=ok,,return=0", framed(kUsbOpen, identity_usb, "CloseDevice(0)")},
      {usb("chip_init"), 1, "error=chip not connected, failed,return=1",
       framed(kUsbOpen, identity_usb, "CloseDevice(0)")},
      // hot_rst refused at its second write on the bridge.
      {usb("hot_rst"), 3, kFailLine,
       framed(kUsbOpen,
              {"StreamI2C(0,[D0 6C],4)", "StreamI2C(0,[D0 2E 01],0)", "StreamI2C(0,[D0 2E 03],0)"},
              nullptr)},
      {sock("hot_rst"), 2, kFailLine,
       framed(kSockOpen, {"ReadregMulti(0,208,0x6C,1,4)", "WriteregMulti(0,208,0x2E,1,[01])"},
              nullptr)},
      // chip_init refused at its fifth write: four applied, nothing after.
      {sock("chip_init"), 6, kFailLine,
       framed(kSockOpen,
              {"ReadregMulti(0,208,0x6C,1,4)", "WriteregMulti(0,208,0x0C,1,[52])",
               "WriteregMulti(0,208,0x00,1,[81])", "WriteregMulti(0,208,0x00,1,[01])",
               "WriteregMulti(0,208,0x05,1,[81])", "WriteregMulti(0,208,0x05,1,[01])"},
              nullptr)},
      {usb("dvb_standard"), 2, kFailLine,
       framed(kUsbOpen, {"StreamI2C(0,[D0 2C],1)", "StreamI2C(0,[D0 97],1)"}, nullptr)},
  };
  for (const auto& c : cases) {
    TestPlatform p;
    p.memory.set(0xD0, 0x6C, kPresent);
    p.memory.set(208, 0x6C, kPresent);
    p.memory.set(0xD0, 0x2C, {0x28});
    p.usbio_double.open_fails = c.fail_at < 0;
    p.fail_at = std::max(c.fail_at, 0);
    const RunResult r = run_cli(p, c.args);
    EXPECT_EQ(r.out, c.out) << c.args[c.args.size() - 2];
    EXPECT_EQ(r.status, c.out == kFailLine || c.fail_at < 0 ? -1 : 0);
    EXPECT_EQ(p.calls, c.calls) << c.args[c.args.size() - 2];
  }
}

const Calls kInitWrites = {"0C 52", "00 81", "00 01", "05 81", "05 01", "04 04",
                           "09 0E", "0C 42", "0A 5A", "0A 4A", "A8 80"};

TEST(SequenceCommands, WritesInOrderOrNothingWhenAbsent) {
  struct Case {
    const char* cmd;
    std::vector<uint8_t> id;
    Calls writes;
    const char* out;
  } cases[] = {{"chip_init", kPresent, kInitWrites, "error=ok,return=1"},
               {"hot_rst", kPresent, {"2E 01", "2E 03"}, "error=ok,return=1"},
               {"chip_init", kAbsent, {}, "error=chip not connected, failed,return=1"},
               {"hot_rst", kAbsent, {}, "error=chip not connected, failed,return=1"}};
  for (const auto& c : cases) {
    TestPlatform p;
    p.memory.set(0xD0, 0x6C, c.id);
    const RunResult r = run_cli(p, usb(c.cmd));
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 0);
    Calls middle = {"StreamI2C(0,[D0 6C],4)"};
    for (const auto& w : c.writes) middle.push_back("StreamI2C(0,[D0 " + w + "],0)");
    EXPECT_EQ(p.calls, framed(kUsbOpen, middle, "CloseDevice(0)")) << c.cmd;
  }
}

// Register values (-1: must not be read) and the report printed.
struct ReportCase {
  int lock, vcm, pls, rolloff, fec;
  const char* text;
};
constexpr ReportCase kReports[] = {
    {0x28, 0x80, 0x39, 0x00, -1, "DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35"},
    {0x28, 0x7F, -1, -1, -1, "S2,VCM"},
    {0x20, -1, -1, -1, 0x0B, "Directv,6/7,Roll_off=0.2"},
    {0x20, -1, -1, -1, 0x04, "DVB-S,3/4,Roll_off=0.35"},
    {0x08, -1, -1, -1, -1, "unkown standard!"},
    {0xDF, -1, -1, -1, -1, "unkown standard!"},
    {0x3F, 0x80, 0x00, 0x40, -1, "DVB-S2,Dummy,Normal Frame,PLT OFF,Roll_off=0.25"},
    {0x3F, 0xFF, 0x03, 0x80, -1, "DVB-S2,Dummy,Short Frame,PLT ON,Roll_off=0.2"},
    {0x28, 0x80, 0x74, 0x3F, -1, "DVB-S2,Reserved,Normal Frame,PLT OFF,Roll_off=0.35"},
    {0x28, 0x80, 0xFC, 0xC0, -1, "DVB-S2,Reserved,Normal Frame,PLT OFF,Reserved roll_off"},
    {0x28, 0x80, 0x70, 0xC0, -1,  // the longest report: 57 characters
     "DVB-S2,32APSK+9/10,Normal Frame,PLT OFF,Reserved roll_off"},
    {0x28, 0x80, 0x5C, 0xC0, -1, "DVB-S2,16APSK+9/10,Normal Frame,PLT OFF,Reserved roll_off"},
    {0x28, 0x80, 0x06, 0x00, -1, "DVB-S2,QPSK+1/4,Short Frame,PLT OFF,Roll_off=0.35"},
    {0x20, -1, -1, -1, 0x05, "Directv,NA,Roll_off=0.2"},
    {0x20, -1, -1, -1, 0x0A, "DVB-S,NA,Roll_off=0.35"},
    {0x20, -1, -1, -1, 0xF1, "Directv,1/2,Roll_off=0.2"},
    {0x37, -1, -1, -1, 0x08, "DVB-S,7/8,Roll_off=0.35"},
    {0x20, -1, -1, -1, 0x03, "Directv,2/3,Roll_off=0.2"},
};

TEST(DvbStandard, ReportsAndOnlyTheReadsThePathNeeds) {
  for (const auto& c : kReports) {
    TestPlatform p;
    Calls reads = {"ReadregMulti(0,208,0x2C,1,1)"};
    p.memory.set(208, 0x2C, {static_cast<uint8_t>(c.lock)});
    const std::pair<int, int> regs[] = {
        {0x97, c.vcm}, {0x5C, c.pls}, {0x9D, c.rolloff}, {0x8E, c.fec}};
    for (const auto& [reg, value] : regs) {
      if (value < 0) continue;
      p.memory.set(208, reg, {static_cast<uint8_t>(value)});
      char line[64];
      std::snprintf(line, sizeof line, "ReadregMulti(0,208,0x%02X,1,1)", reg);
      reads.push_back(line);
    }
    const RunResult r = run_cli(p, sock("dvb_standard"));
    EXPECT_EQ(r.out, std::string("error=ok,return=") + c.text);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(p.calls, framed(kSockOpen, reads, "DeinitSock()")) << c.text;
  }
}

}  // namespace
}  // namespace demodctl::testing
