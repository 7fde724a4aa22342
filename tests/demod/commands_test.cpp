// Probes, chip_init, hot_rst and dvb_standard through the front end, over the
// recording doubles of both transports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

using Args = std::vector<std::string>;
using Calls = std::vector<std::string>;

Args sock(const char* cmd) { return {"127.0.0.1", "5000", "0", "100", "208", cmd, "1"}; }
Args usb(const char* cmd) { return {"100", "208", cmd, "0"}; }

const std::vector<uint8_t> kPresent = {0x12, 0x34, 0x36, 0x31};
const std::vector<uint8_t> kAbsent = {0x00, 0x00, 0x36, 0x30};

TEST(Probes, LockBitsTable) {
  const char* names[] = {"agc_ok", "cbs_ok", "tr_ok", "sync_ok", "cr_ok", "fec_ok"};
  for (int status : {0x3F, 0x20, 0xC0, 0x15, 0x0A}) {
    for (int bit = 0; bit < 6; ++bit) {
      RecordingCalc calc;
      calc.memory.set(208, 0x2C, {static_cast<uint8_t>(status)});
      const RunResult r = run_cli(sock(names[bit]));
      const std::string want = (status >> bit) & 1 ? "error=ok,return=1" : "error=ok,return=0";
      EXPECT_EQ(r.out, want) << names[bit] << " " << int(status);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(calc.calls, (Calls{"InitSock(127.0.0.1,5000)", "seti2cspeed(0,100)",
                                   "ReadregMulti(0,208,0x2C,1,1)", "DeinitSock()"}));
    }
  }
}

TEST(Probes, OnLineBothTransports) {
  for (const auto& [id, out] :
       {std::pair{kPresent, "error=ok,return=1"}, std::pair{kAbsent, "error=ok,,return=0"}}) {
    RecordingUsbio bridge;
    bridge.memory.set(0xD0, 0x6C, id);
    const RunResult r = run_cli(usb("on_line"));
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(bridge.calls, (Calls{"OpenDevice(0)", "SetStream(0,100)", "StreamI2C(0,[D0 6C],4)",
                                   "CloseDevice(0)"}));
  }
}

TEST(Probes, TransportFailures) {
  {
    RecordingUsbio bridge;
    bridge.open_fails = true;
    const RunResult r = run_cli(usb("fec_ok"));
    EXPECT_EQ(r.out, "error=err openerror,failed,return=-1");
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(bridge.calls, Calls{"OpenDevice(0)"});
  }
  {
    RecordingCalc calc;
    calc.fail_at = 1;
    const RunResult r = run_cli(sock("on_line"));
    EXPECT_EQ(r.out, "error=err no connection,failed,return=-1");
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(calc.calls.back(), "ReadregMulti(0,208,0x6C,1,4)");  // no DeinitSock
  }
}

const Calls kInitWrites = {"0C 52", "00 81", "00 01", "05 81", "05 01", "04 04",
                           "09 0E", "0C 42", "0A 5A", "0A 4A", "A8 80"};

TEST(ChipInit, ElevenWritesInOrderOnBothTransports) {
  {
    RecordingUsbio bridge;
    bridge.memory.set(0xD0, 0x6C, kPresent);
    const RunResult r = run_cli(usb("chip_init"));
    EXPECT_EQ(r.out, "error=ok,return=1");
    Calls want = {"OpenDevice(0)", "SetStream(0,100)", "StreamI2C(0,[D0 6C],4)"};
    for (const auto& w : kInitWrites) want.push_back("StreamI2C(0,[D0 " + w + "],0)");
    want.push_back("CloseDevice(0)");
    EXPECT_EQ(bridge.calls, want);
  }
  {
    RecordingCalc calc;
    calc.memory.set(208, 0x6C, kPresent);
    const RunResult r = run_cli(sock("chip_init"));
    EXPECT_EQ(r.out, "error=ok,return=1");
    Calls want = {"InitSock(127.0.0.1,5000)", "seti2cspeed(0,100)", "ReadregMulti(0,208,0x6C,1,4)"};
    for (const auto& w : kInitWrites) {
      want.push_back("WriteregMulti(0,208,0x" + w.substr(0, 2) + ",1,[" + w.substr(3) + "])");
    }
    want.push_back("DeinitSock()");
    EXPECT_EQ(calc.calls, want);
  }
}

TEST(ChipInit, FailureAtFifthStepStopsThere) {
  RecordingCalc calc;
  calc.memory.set(208, 0x6C, kPresent);
  calc.fail_at = 6;  // identity read, then writes 1..4 succeed, write 5 fails
  const RunResult r = run_cli(sock("chip_init"));
  EXPECT_EQ(r.out, "error=err no connection,failed,return=-1");
  EXPECT_EQ(r.status, -1);
  ASSERT_EQ(calc.calls.size(), 3u + 5u);
  EXPECT_EQ(calc.calls.back(), "WriteregMulti(0,208,0x05,1,[01])");
}

TEST(SequenceCommands, AbsentChipWritesNothing) {
  for (const char* cmd : {"chip_init", "hot_rst"}) {
    RecordingCalc calc;
    calc.memory.set(208, 0x6C, kAbsent);
    const RunResult r = run_cli(sock(cmd));
    EXPECT_EQ(r.out, "error=chip not connected, failed,return=1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(calc.calls, (Calls{"InitSock(127.0.0.1,5000)", "seti2cspeed(0,100)",
                                 "ReadregMulti(0,208,0x6C,1,4)", "DeinitSock()"}));
  }
}

TEST(HotReset, TwoWritesThenOk) {
  RecordingUsbio bridge;
  bridge.memory.set(0xD0, 0x6C, kPresent);
  const RunResult r = run_cli(usb("hot_rst"));
  EXPECT_EQ(r.out, "error=ok,return=1");
  EXPECT_EQ(bridge.calls,
            (Calls{"OpenDevice(0)", "SetStream(0,100)", "StreamI2C(0,[D0 6C],4)",
                   "StreamI2C(0,[D0 2E 01],0)", "StreamI2C(0,[D0 2E 03],0)", "CloseDevice(0)"}));

  RecordingCalc calc;
  calc.memory.set(208, 0x6C, kPresent);
  calc.fail_at = 2;  // the first write fails: the second is never sent
  const RunResult f = run_cli(sock("hot_rst"));
  EXPECT_EQ(f.out, "error=err no connection,failed,return=-1");
  EXPECT_EQ(f.status, -1);
  EXPECT_EQ(calc.calls.back(), "WriteregMulti(0,208,0x2E,1,[01])");
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
    {0x00, -1, -1, -1, -1, "unkown standard!"},
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
    RecordingCalc calc;
    Calls reads = {"ReadregMulti(0,208,0x2C,1,1)"};
    calc.memory.set(208, 0x2C, {static_cast<uint8_t>(c.lock)});
    const std::pair<int, int> regs[] = {
        {0x97, c.vcm}, {0x5C, c.pls}, {0x9D, c.rolloff}, {0x8E, c.fec}};
    for (const auto& [reg, value] : regs) {
      if (value < 0) continue;
      calc.memory.set(208, reg, {static_cast<uint8_t>(value)});
      char line[64];
      std::snprintf(line, sizeof line, "ReadregMulti(0,208,0x%02X,1,1)", reg);
      reads.push_back(line);
    }
    const RunResult r = run_cli(sock("dvb_standard"));
    EXPECT_EQ(r.out, std::string("error=ok,return=") + c.text);
    EXPECT_EQ(r.status, 0);
    Calls want = {"InitSock(127.0.0.1,5000)", "seti2cspeed(0,100)"};
    want.insert(want.end(), reads.begin(), reads.end());
    want.push_back("DeinitSock()");
    EXPECT_EQ(calc.calls, want) << c.text;
  }
}

TEST(DvbStandard, FailingReadEndsWithOneFailureLine) {
  for (int fail_at = 1; fail_at <= 4; ++fail_at) {
    RecordingCalc calc;
    calc.memory.set(208, 0x2C, {0x28});
    calc.memory.set(208, 0x97, {0x80});
    calc.fail_at = fail_at;
    const RunResult r = run_cli(sock("dvb_standard"));
    EXPECT_EQ(r.out, "error=err no connection,failed,return=-1");
    EXPECT_EQ(r.status, -1);
    EXPECT_NE(calc.calls.back(), "DeinitSock()");
  }
}

}  // namespace
}  // namespace demodctl::testing
