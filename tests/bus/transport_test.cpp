// The exact library calls of each transport operation, the failure rule and delay_ms on the real
// clock. The row applier and the bounded poll are checked through the commands that use them.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "bus/delay.h"
#include "bus/socket_transport.h"
#include "bus/usb_transport.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

const I2cDevice kTunerSock{"127.0.0.1", 5000, 3, 400, 192};
const I2cDevice kTunerUsb{"", 0, 0, 100, 0xC0};
const uint8_t kData[3] = {0xA1, 0xB2, 0xC3};
const std::string kFailLine = "error=err no connection,failed,return=-1";

// The demodulator at 464 (the address goes on whole to the server, as 464 & 0xFF = 0xD0 on the
// bridge), channel 2.
std::unique_ptr<Transport> transport(TestPlatform& p, bool socket) {
  if (socket)
    return std::make_unique<SocketTransport>(I2cDevice{"127.0.0.1", 5000, 2, 100, 464}, p.calc());
  return std::make_unique<UsbTransport>(I2cDevice{"", 0, 0, 100, 464}, p.usbio());
}

TEST(Transport, EveryOperationIsTheseCalls) {
  for (const bool socket : {true, false}) {
    TestPlatform p;
    p.set(0xEF, {0x5A}, socket ? 464 : 0xD0);
    auto bus = transport(p, socket);
    std::vector<uint8_t> buf(3);
    EXPECT_EQ(bus->open_connection(), 0);
    EXPECT_EQ(bus->demod_read_regs(0x6C, std::span(buf).first(2)), 0);
    EXPECT_EQ(bus->demod_write_regs(0x10, kData), 0);
    EXPECT_EQ(bus->read_period(0xEF, buf), 0);
    EXPECT_EQ(buf, std::vector<uint8_t>(3, 0x5A));
    bus->set_speed(kTunerSock);
    bus->close_connection();
    EXPECT_EQ(p.calls, split(socket ? "InitSock(127.0.0.1,5000); seti2cspeed(2,100); "
                                      "ReadregMulti(2,464,0x6C,1,2); "
                                      "WriteregMulti(2,464,0x10,1,[A1 B2 C3]); "
                                      "ReadregPeriod(2,464,0xEF,1,1,3,100); seti2cspeed(3,400); "
                                      "DeinitSock()"
                                    : "OpenDevice(0); SetStream(0,100); StreamI2C(0,[D0 6C],2); "
                                      "StreamI2C(0,[D0 10 A1 B2 C3],0); StreamI2C(0,[D0 EF],1); "
                                      "StreamI2C(0,[D0 EF],1); StreamI2C(0,[D0 EF],1); "
                                      "CloseDevice(0)"));
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
    std::vector<uint8_t> read{1, 2}, period{1, 2};
    Identity id{9, 9, 9, 9};
    EXPECT_EQ(captured([&] { EXPECT_EQ(bus->demod_read_regs(0x2C, read), -1); }), kFailLine);
    EXPECT_EQ(captured([&] { EXPECT_EQ(bus->demod_write_regs(0x2C, kData), -1); }), kFailLine);
    EXPECT_EQ(captured([&] { EXPECT_EQ(bus->read_period(0xEF, period), -1); }), kFailLine);
    EXPECT_EQ(captured([&] { EXPECT_FALSE(demod_read_reg(*bus, 0x2C)); }), kFailLine);
    EXPECT_EQ(captured([&] {
                EXPECT_EQ(check_chip_id(*bus, id), socket ? ChipId::failed : ChipId::absent);
              }),
              socket ? kFailLine : "");
    EXPECT_EQ(read, (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(period, (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(id, (Identity{0, 0, 0, 0}));
  }
}

// Repeater writes on the server and direct writes on the bridge: the tuner_set tests.
TEST(Transport, TunerAccessExactCalls) {
  const struct {
    bool socket, direct, write;
    int fail_at;  // 0: none
    const char* calls;
  } cases[] = {
      {true, true, true, 0, "WriteregMulti(3,192,0x10,1,[A1 B2 C3])"},
      {true, false, false, 0,
       "WriteregMulti(2,464,0x2D,1,[01]); ReadregMulti(2,192,0x10,1,1); delay(2); "
       "WriteregMulti(2,464,0x2D,1,[01]); ReadregMulti(2,192,0x11,1,1); delay(2); "
       "WriteregMulti(2,464,0x2D,1,[01]); ReadregMulti(2,192,0x12,1,1); delay(2)"},
      {true, true, false, 0, "ReadregMulti(3,192,0x10,1,3)"},
      {false, false, true, 0, "StreamI2C(0,[D0 2D 01],0); StreamI2C(0,[C0 10 A1 B2 C3],0)"},
      {false, false, false, 0, "StreamI2C(0,[D0 2D 01],0); StreamI2C(0,[C0 10],3)"},
      {false, true, false, 0, "StreamI2C(0,[C0 10],3)"},
      // The first refusal ends the access: nothing after it is sent.
      {true, false, true, 3,
       "WriteregMulti(2,464,0x2D,1,[01]); WriteregMulti(2,192,0x10,1,[A1]); delay(2); "
       "WriteregMulti(2,464,0x2D,1,[01])"},
      {true, false, true, 2, "WriteregMulti(2,464,0x2D,1,[01]); WriteregMulti(2,192,0x10,1,[A1])"},
      {false, false, true, 1, "StreamI2C(0,[D0 2D 01],0)"},
      {false, false, false, 2, "StreamI2C(0,[D0 2D 01],0); StreamI2C(0,[C0 10],3)"},
  };
  for (const auto& c : cases) {
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
    EXPECT_EQ(rc, c.fail_at != 0 ? -1 : 0) << c.calls;
    EXPECT_EQ(out, c.fail_at != 0 ? kFailLine : "") << c.calls;
    EXPECT_EQ(p.calls, split(c.calls));
  }
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
