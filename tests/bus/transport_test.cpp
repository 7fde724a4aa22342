// The exact library calls of each transport operation, the failure rule, the row applier, the
// bounded poll and delay_ms on the real clock.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bus/delay.h"
#include "bus/poll.h"
#include "bus/reg_rows.h"
#include "bus/socket_transport.h"
#include "bus/usb_transport.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

const I2cDevice kDemodSock{"127.0.0.1", 5000, 2, 100, 464};  // the address goes on whole
const I2cDevice kTunerSock{"127.0.0.1", 5000, 3, 400, 192};
const I2cDevice kDemodUsb{"", 0, 0, 100, 464};  // 464 & 0xFF = 0xD0
const I2cDevice kTunerUsb{"", 0, 0, 100, 0xC0};
const uint8_t kData[3] = {0xA1, 0xB2, 0xC3};
const std::string kFailLine = "error=err no connection,failed,return=-1";

std::unique_ptr<Transport> transport(TestPlatform& p, bool socket) {
  if (socket) return std::make_unique<SocketTransport>(kDemodSock, p.calc());
  return std::make_unique<UsbTransport>(kDemodUsb, p.usbio());
}

TEST(Transport, EveryOperationIsTheseCalls) {
  for (const bool socket : {true, false}) {
    TestPlatform p;
    p.memory.set(socket ? 464 : 0xD0, 0xEF, {0x5A});
    auto bus = transport(p, socket);
    std::vector<uint8_t> buf(3);
    EXPECT_EQ(bus->open_connection(), 0);
    EXPECT_EQ(bus->demod_read_regs(0x6C, std::span(buf).first(2)), 0);
    EXPECT_EQ(bus->demod_write_regs(0x10, kData), 0);
    EXPECT_EQ(bus->read_period(0xEF, buf), 0);
    EXPECT_EQ(buf, std::vector<uint8_t>(3, 0x5A));
    bus->set_speed(kTunerSock);
    bus->close_connection();
    const Calls want = socket ? Calls{"InitSock(127.0.0.1,5000)",
                                      "seti2cspeed(2,100)",
                                      "ReadregMulti(2,464,0x6C,1,2)",
                                      "WriteregMulti(2,464,0x10,1,[A1 B2 C3])",
                                      "ReadregPeriod(2,464,0xEF,1,1,3,100)",
                                      "seti2cspeed(3,400)",
                                      "DeinitSock()"}
                              : Calls{"OpenDevice(0)",          "SetStream(0,100)",
                                      "StreamI2C(0,[D0 6C],2)", "StreamI2C(0,[D0 10 A1 B2 C3],0)",
                                      "StreamI2C(0,[D0 EF],1)", "StreamI2C(0,[D0 EF],1)",
                                      "StreamI2C(0,[D0 EF],1)", "CloseDevice(0)"};
    EXPECT_EQ(p.calls, want);
  }
}

// A refused transfer prints the failure line once and gives -1, on both transports; a refused
// read leaves zeros, never what the library scribbled. Only the bridge's identity read turns a
// silent chip into zeros (absent).
TEST(Transport, RefusedTransfersAreFailures) {
  for (const bool socket : {true, false}) {
    TestPlatform p;
    p.fail_at = 1;
    p.fail_from = true;
    auto bus = transport(p, socket);
    std::vector<uint8_t> buf{1, 2};
    Identity id{9, 9, 9, 9};
    EXPECT_EQ(captured([&] { EXPECT_EQ(bus->demod_read_regs(0x2C, buf), -1); }), kFailLine);
    EXPECT_EQ(captured([&] { EXPECT_EQ(bus->demod_write_regs(0x2C, kData), -1); }), kFailLine);
    EXPECT_EQ(captured([&] { EXPECT_EQ(bus->read_period(0xEF, buf), -1); }), kFailLine);
    EXPECT_EQ(captured([&] { EXPECT_FALSE(demod_read_reg(*bus, 0x2C)); }), kFailLine);
    EXPECT_EQ(captured([&] {
                EXPECT_EQ(check_chip_id(*bus, id), socket ? ChipId::failed : ChipId::absent);
              }),
              socket ? kFailLine : "");
    EXPECT_EQ(buf, (std::vector<uint8_t>{0, 0}));
    if (!socket) {
      EXPECT_EQ(id, (Identity{0, 0, 0, 0}));
    }
  }
}

TEST(Transport, ChipPresenceRule) {
  const std::pair<Identity, ChipId> cases[] = {{{0x00, 0x00, 0x36, 0x31}, ChipId::present},
                                               {{0x10, 0x01, 0x36, 0x31}, ChipId::present},
                                               {{0x36, 0x31, 0x00, 0x00}, ChipId::absent},
                                               {{0x00, 0x00, 0x36, 0x30}, ChipId::absent}};
  for (const auto& [bytes, chip] : cases) {
    TestPlatform p;
    p.memory.set(0xD0, 0x6C, {bytes.begin(), bytes.end()});
    Identity id{};
    EXPECT_EQ(check_chip_id(*transport(p, false), id), chip);
    EXPECT_EQ(id, bytes);
  }
}

struct TunerCase {
  const char* name;
  bool socket, direct, write;
  int fail_at;  // 0: none
  Calls calls;
};

const TunerCase kTunerCases[] = {
    {"socket repeater write",
     true,
     false,
     true,
     0,
     {"WriteregMulti(2,464,0x2D,1,[01])", "WriteregMulti(2,192,0x10,1,[A1])", "delay(2)",
      "WriteregMulti(2,464,0x2D,1,[01])", "WriteregMulti(2,192,0x11,1,[B2])", "delay(2)",
      "WriteregMulti(2,464,0x2D,1,[01])", "WriteregMulti(2,192,0x12,1,[C3])", "delay(2)"}},
    {"socket direct write", true, true, true, 0, {"WriteregMulti(3,192,0x10,1,[A1 B2 C3])"}},
    {"socket repeater read",
     true,
     false,
     false,
     0,
     {"WriteregMulti(2,464,0x2D,1,[01])", "ReadregMulti(2,192,0x10,1,1)", "delay(2)",
      "WriteregMulti(2,464,0x2D,1,[01])", "ReadregMulti(2,192,0x11,1,1)", "delay(2)",
      "WriteregMulti(2,464,0x2D,1,[01])", "ReadregMulti(2,192,0x12,1,1)", "delay(2)"}},
    {"socket direct read", true, true, false, 0, {"ReadregMulti(3,192,0x10,1,3)"}},
    {"usb repeater write",
     false,
     false,
     true,
     0,
     {"StreamI2C(0,[D0 2D 01],0)", "StreamI2C(0,[C0 10 A1 B2 C3],0)"}},
    {"usb direct write", false, true, true, 0, {"StreamI2C(0,[C0 10 A1 B2 C3],0)"}},
    {"usb repeater read",
     false,
     false,
     false,
     0,
     {"StreamI2C(0,[D0 2D 01],0)", "StreamI2C(0,[C0 10],3)"}},
    {"usb direct read", false, true, false, 0, {"StreamI2C(0,[C0 10],3)"}},
    // The first refusal ends the access: nothing after it is sent.
    {"socket second repeater opening refused",
     true,
     false,
     true,
     3,
     {"WriteregMulti(2,464,0x2D,1,[01])", "WriteregMulti(2,192,0x10,1,[A1])", "delay(2)",
      "WriteregMulti(2,464,0x2D,1,[01])"}},
    {"socket tuner byte refused",
     true,
     false,
     true,
     2,
     {"WriteregMulti(2,464,0x2D,1,[01])", "WriteregMulti(2,192,0x10,1,[A1])"}},
    {"usb repeater opening refused", false, false, true, 1, {"StreamI2C(0,[D0 2D 01],0)"}},
    {"usb tuner transfer refused",
     false,
     false,
     false,
     2,
     {"StreamI2C(0,[D0 2D 01],0)", "StreamI2C(0,[C0 10],3)"}},
};

TEST(Transport, TunerAccessExactCalls) {
  for (const auto& c : kTunerCases) {
    TestPlatform p;
    p.fail_at = c.fail_at;
    auto bus = transport(p, c.socket);
    const I2cDevice& tuner = c.socket ? kTunerSock : kTunerUsb;
    std::vector<uint8_t> buf(3);
    int rc = 0;
    const std::string out = captured([&] {
      rc = c.write ? bus->tuner_write_regs(tuner, c.direct, 0x10, kData)
                   : bus->tuner_read_regs(tuner, c.direct, 0x10, buf);
    });
    EXPECT_EQ(rc, c.fail_at != 0 ? -1 : 0) << c.name;
    EXPECT_EQ(out, c.fail_at != 0 ? kFailLine : "") << c.name;
    EXPECT_EQ(p.calls, c.calls) << c.name;
  }
}

TEST(RegRows, EachRowOneWriteThenItsWaitStopsAtFirstFailure) {
  static constexpr RegRow kRows[] = {{0x10, {0x01, 0x02}, 5}, {0x20, {0x03}}, {0x30, {0x04}, 10}};
  for (const int fail_at : {0, 2}) {
    TestPlatform p;
    p.fail_at = fail_at;
    auto bus = transport(p, false);
    EXPECT_EQ(captured([&] { EXPECT_EQ(write_demod_rows(*bus, kRows), fail_at ? -1 : 0); }),
              fail_at ? kFailLine : "");
    Calls want = {"StreamI2C(0,[D0 10 01 02],0)", "delay(5)", "StreamI2C(0,[D0 20 03],0)"};
    if (fail_at == 0) want.insert(want.end(), {"StreamI2C(0,[D0 30 04],0)", "delay(10)"});
    EXPECT_EQ(p.calls, want);
  }
  TestPlatform p;  // tuner rows go through the repeater rule
  EXPECT_EQ(write_tuner_rows(*transport(p, false), kTunerUsb, false, kRows), 0);
  EXPECT_EQ(p.calls.at(0), "StreamI2C(0,[D0 2D 01],0)");
  EXPECT_EQ(p.calls.at(1), "StreamI2C(0,[C0 10 01 02],0)");
}

// Register 0x37 answers from a script of values: ready when bit 7 is set.
struct PollCase {
  PollOrder order;
  int fail_at;
  int ready_after;  // reads; 0: never
  Calls calls;
  std::string out;
  int rc;
};

TEST(Poll, OrderBoundAndFailures) {
  const std::string read = "StreamI2C(0,[D0 37],1)";
  const std::string wait = "delay(5)";
  const PollCase cases[] = {
      {PollOrder::read_then_wait, 0, 3, {read, read, wait, read, wait}, "", 0},
      {PollOrder::wait_then_read, 0, 3, {read, wait, read, wait, read}, "", 0},
      {PollOrder::wait_then_read, 0, 1, {read}, "", 0},
      {PollOrder::wait_then_read, 2, 3, {read, wait, read}, kFailLine, -1},
  };
  for (const auto& c : cases) {
    TestPlatform p;
    p.fail_at = c.fail_at;
    auto bus = transport(p, false);
    int reads = 0;
    uint8_t value = 0;
    const std::string out = captured([&] {
      EXPECT_EQ(poll_register(*bus, {0x37, 5, c.order}, std::span(&value, 1),
                              [&](std::span<const uint8_t>) { return ++reads == c.ready_after; }),
                c.rc);
    });
    EXPECT_EQ(p.calls, c.calls);
    EXPECT_EQ(out, c.out);
  }
  TestPlatform p;  // a flag that never comes: the bound, then one timeout line
  uint8_t value = 0;
  EXPECT_EQ(captured([&] {
              EXPECT_EQ(poll_register(*transport(p, false), {0x37, 5, PollOrder::wait_then_read},
                                      std::span(&value, 1),
                                      [](std::span<const uint8_t>) { return false; }),
                        -1);
            }),
            "error=err timeout,failed,return=-1");
  EXPECT_EQ(std::count(p.calls.begin(), p.calls.end(), "delay(5)"), kPollBoundMs / 5);
  EXPECT_EQ(std::count(p.calls.begin(), p.calls.end(), "StreamI2C(0,[D0 37],1)"),
            kPollBoundMs / 5 + 1);
}

TEST(Delay, NeverEndsEarlyOnTheRealClock) {
  set_delay_hook(nullptr);
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < 20; ++i) {
    for (const int ms : {0, 1, 2}) {
      const auto start = Clock::now();
      delay_ms(ms);
      EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(ms));
    }
  }
}

}  // namespace
}  // namespace demodctl::testing
